<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>BrimletApp</name>
    <message>
        <location filename="../../src/shell/brimlet_app.cpp" line="24"/>
        <source>Brimlet</source>
        <translation>Brimlet</translation>
    </message>
    <message>
        <location filename="../../src/shell/brimlet_app.cpp" line="70"/>
        <source>Open Brimlet</source>
        <translation>Brimlet öffnen</translation>
    </message>
    <message>
        <location filename="../../src/shell/brimlet_app.cpp" line="90"/>
        <source>Pause history</source>
        <translation>Verlauf anhalten</translation>
    </message>
    <message>
        <location filename="../../src/shell/brimlet_app.cpp" line="88"/>
        <source>Resume history</source>
        <translation>Verlauf fortsetzen</translation>
    </message>
    <message>
        <location filename="../../src/shell/brimlet_app.cpp" line="71"/>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
</context>
<context>
    <name>brimlet::ShelfView</name>
    <message>
        <location filename="../../src/panel/shelf_view.cpp" line="26"/>
        <location filename="../../src/panel/shelf_view.cpp" line="31"/>
        <source>Search</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <location filename="../../src/panel/shelf_view.cpp" line="48"/>
        <source>Clear all</source>
        <translation>Alle löschen</translation>
    </message>
    <message>
        <location filename="../../src/panel/shelf_view.cpp" line="58"/>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <location filename="../../src/panel/shelf_view.cpp" line="71"/>
        <source>Paused</source>
        <translation>Pausiert</translation>
    </message>
    <message>
        <location filename="../../src/panel/shelf_view.cpp" line="93"/>
        <source>Nothing copied yet</source>
        <translation>Noch nichts kopiert</translation>
    </message>
    <message>
        <location filename="../../src/panel/shelf_view.cpp" line="93"/>
        <source>No matches</source>
        <translation>Keine Treffer</translation>
    </message>
    <message>
        <location filename="../../src/panel/shelf_view.cpp" line="115"/>
        <source>%1/%2</source>
        <translation>%1/%2</translation>
    </message>
</context>
</TS>
