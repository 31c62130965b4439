<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>BrimletApp</name>
    <message>
        <source>Brimlet</source>
        <translation>Brimlet</translation>
    </message>
</context>
<context>
    <name>brimlet::ShelfView</name>
    <message>
        <source>Search</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <source>Clear all</source>
        <translation>Alle löschen</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Nothing copied yet</source>
        <translation>Noch nichts kopiert</translation>
    </message>
    <message>
        <source>No matches</source>
        <translation>Keine Treffer</translation>
    </message>
    <message>
        <source>%1/%2</source>
        <translation>%1/%2</translation>
    </message>
</context>
</TS>
