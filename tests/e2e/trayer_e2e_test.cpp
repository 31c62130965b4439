// Brimlet on X11 with an XEmbed tray (trayer), as a person uses it, and what
// happens around it: no tray yet, starting it again, signals, a display that
// goes away.
#include <signal.h>

#include <QDir>
#include <QFile>
#include <algorithm>
#include <memory>

#include "e2e/app.h"

namespace brimlet::e2e {
namespace {

class Trayer : public DesktopTest {
  protected:
    Trayer() : DesktopTest(Desktop::Kind::Trayer) {}

    // What a running Brimlet keeps in the runtime folder: its socket.
    [[nodiscard]] QStringList sockets() const {
        return QDir(desktop.runtimeDir())
            .entryList({"brimlet*"}, QDir::AllEntries | QDir::Hidden | QDir::System);
    }
};

TEST_F(Trayer, WithoutATrayStartsOpenThePanelThenTheIconDocksAndCopiesArePicked) {
    desktop.copy("on the clipboard at start");
    Brimlet app(desktop);
    ASSERT_TRUE(saysNoTray(app)) << app.standardError().constData();

    // A second start hands over and ends; the panel opens in the top-right
    // corner, and one more start leaves it open.
    Brimlet second(desktop);
    EXPECT_TRUE(second.waitForExit()) << second.standardError().constData();
    EXPECT_FALSE(second.standardError().contains("brimlet:")) << second.standardError().constData();
    auto panel = app.waitForRows({"on the clipboard at start"});
    ASSERT_TRUE(panel) << app.describe();
    EXPECT_EQ(panelWindow(*panel), QRect(940, 0, 340, 420));
    EXPECT_TRUE(Brimlet(desktop).waitForExit());
    pumpFor(500ms);
    EXPECT_TRUE(app.panel()) << "a start while the panel was open closed it";
    desktop.key("Escape");
    ASSERT_TRUE(app.waitForPanelClosed());
    pumpFor(400ms);  // a click right after closing counts as the closing click

    // The icon docks once a tray starts, without a restart.
    ASSERT_TRUE(desktop.startTray()) << desktop.failure().toStdString();
    const auto icon = app.waitForTrayIcon();
    ASSERT_TRUE(icon) << "no icon docked";
    desktop.click(icon->center());
    ASSERT_TRUE(app.waitForRows({"on the clipboard at start"})) << app.describe();
    EXPECT_EQ(app.standardError().count("no system tray"), 1) << app.standardError().constData();

    // Copies faster than the half-second poll all land, newest first.
    for (const char* text : {"Red plum", "cherry pie", "plum jam", "plum tart"}) {
        desktop.copy(text);
        pumpFor(200ms);
    }
    panel = app.waitForRows(
        {"plum tart", "plum jam", "cherry pie", "Red plum", "on the clipboard at start"});
    ASSERT_TRUE(panel) << app.describe();
    EXPECT_TRUE(labels(panel).contains("5/50"));
    EXPECT_EQ(panelWindow(*panel).size(), QSize(340, 420));
    EXPECT_TRUE(besideIcon(panelWindow(*panel), *icon, *icon));
    EXPECT_TRUE(desktop.screenshot(output("trayer-panel.png")));

    // Keys go to the search at once; it ignores case.
    desktop.type("PLUM");
    ASSERT_TRUE(app.waitForRows({"plum tart", "plum jam", "Red plum"})) << app.describe();
    desktop.key("Down Down Return");
    EXPECT_TRUE(pumpUntil([&] { return desktop.paste() == "plum jam"; }, 5s));
    panel = app.waitForRows({"plum jam", "plum tart", "Red plum"});
    ASSERT_TRUE(panel) << app.describe();
    desktop.click(rows(*panel)[2]->extents.center());
    EXPECT_TRUE(pumpUntil([&] { return desktop.paste() == "Red plum"; }, 5s));
    EXPECT_TRUE(app.waitForRows({"Red plum", "plum jam", "plum tart"})) << app.describe();
    // Its own writes are not taken in a second time.
    pumpFor(1200ms);
    EXPECT_TRUE(labels(app.panel()).contains("5/50")) << app.describe();

    // "Clear all" leaves the clipboard alone and does not take it back.
    const auto buttons = panel->findAll("push button");
    const auto clear = std::find_if(buttons.begin(), buttons.end(),
                                    [](const A11yNode* b) { return b->name == "Clear all"; });
    ASSERT_NE(clear, buttons.end()) << app.describe();
    desktop.click((*clear)->extents.center());
    EXPECT_TRUE(app.waitForPanel([](const A11yNode& p) { return labels(p).contains("0/50"); }));
    pumpFor(1200ms);
    EXPECT_TRUE(labels(app.panel()).contains("Nothing copied yet")) << app.describe();
    EXPECT_EQ(desktop.paste(), "Red plum");

    desktop.key("Escape");
    EXPECT_TRUE(app.waitForPanelClosed());
    pumpFor(400ms);  // a click right after closing counts as the closing click
    desktop.click(icon->center());
    ASSERT_TRUE(app.waitForPanel()) << "the icon does not open the panel again";
    desktop.key("ctrl+q");
    EXPECT_TRUE(app.waitForExit()) << app.standardError().constData();
}

TEST_F(Trayer, OneRunsAtATimeAndEveryEndingRemovesItsSocket) {
    std::vector<std::unique_ptr<Brimlet>> starts;
    for (int i = 0; i < 4; ++i) {
        starts.push_back(std::make_unique<Brimlet>(desktop));
    }
    const auto stillRunning = [&] {
        return std::count_if(starts.begin(), starts.end(), [](const auto& start) {
            return start->process().state() != QProcess::NotRunning;
        });
    };
    ASSERT_TRUE(pumpUntil([&] { return stillRunning() == 1; }, 10s)) << stillRunning() << " run";
    for (auto& start : starts) {
        if (start->process().state() == QProcess::NotRunning) {
            EXPECT_TRUE(start->waitForExit()) << start->standardError().constData();
        } else {
            // The others asked it to open; Quit removes its socket.
            ASSERT_TRUE(start->waitForPanel()) << start->describe();
            desktop.key("ctrl+q");
            EXPECT_TRUE(start->waitForExit()) << start->standardError().constData();
        }
    }
    EXPECT_TRUE(sockets().isEmpty()) << sockets().join(' ').toStdString();

    // TERM, INT and HUP end it as Quit does.
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        Brimlet app(desktop);
        ASSERT_TRUE(pumpUntil([&] { return !sockets().isEmpty(); }, 10s)) << signal;
        ::kill(static_cast<pid_t>(app.process().processId()), signal);
        EXPECT_TRUE(app.waitForExit()) << signal << ": " << app.standardError().constData();
        EXPECT_TRUE(sockets().isEmpty()) << signal << ": " << sockets().join(' ').toStdString();
    }

    // The display going away ends it with a failure, said in one line, also
    // when its icon is docked (Xlib may notice first).
    ASSERT_TRUE(desktop.startTray()) << desktop.failure().toStdString();
    Brimlet app(desktop);
    ASSERT_TRUE(app.waitForTrayIcon() && pumpUntil([&] { return !sockets().isEmpty(); }, 10s));
    const auto before = app.standardError().size();
    desktop.endDisplay();
    ASSERT_TRUE(pumpUntil([&] { return app.process().state() == QProcess::NotRunning; }, 10s));
    EXPECT_EQ(app.process().exitStatus(), QProcess::NormalExit);
    EXPECT_NE(app.process().exitCode(), 0);
    EXPECT_TRUE(sockets().isEmpty()) << sockets().join(' ').toStdString();
    const QByteArray said = app.standardError().mid(before);
    EXPECT_TRUE(said.startsWith("brimlet: ") && said.count('\n') == 1) << said.constData();
}

TEST_F(Trayer, ShiftReturnPastesIntoTheWindowThatHadTheFocusAndNowhereElse) {
    ASSERT_TRUE(desktop.startWindowManager() && desktop.startTray())
        << desktop.failure().toStdString();
    EXPECT_TRUE(desktop.run(BRIMLET_BINARY, {"--version"}).contains("\npaste: XTEST\n"));
    Brimlet app(desktop);
    ASSERT_TRUE(app.waitForTrayIcon());
    const QByteArray forXterm = "für xterm ✓\n";
    const QByteArray twoLines = "Grüße, 世界 —\nzweite Zeile";
    desktop.copy(forXterm);
    pumpFor(700ms);
    desktop.copy(twoLines);
    const auto openWithTwoRows = [&] {
        EXPECT_TRUE(Brimlet(desktop).waitForExit());
        return app.waitForPanel([](const A11yNode& panel) { return rows(panel).size() == 2; });
    };

    // The focused program gets the entry, and the focus back.
    PasteTarget field(desktop);
    ASSERT_TRUE(field.waitForFocus());
    ASSERT_TRUE(openWithTwoRows()) << app.describe();
    desktop.key("Down shift+Return");
    EXPECT_TRUE(pumpUntil([&] { return field.text() == twoLines; }, 5s)) << field.text().data();
    EXPECT_TRUE(field.focused());
    EXPECT_EQ(desktop.run("xclip", {"-selection", "primary", "-o"}), twoLines);

    // A terminal pastes the PRIMARY selection; Shift+click picks as well.
    const QString typed = desktop.runtimeDir() + "/typed";
    QProcess xterm;
    xterm.setProcessEnvironment(desktop.environment());
    xterm.start("xterm", {"-e", "sh", "-c", "cat > " + typed});
    ASSERT_TRUE(field.waitForFocus(false));
    const auto panel = openWithTwoRows();
    ASSERT_TRUE(panel) << app.describe();
    desktop.run("xdotool", {"keydown", "shift"});
    desktop.click(rows(*panel)[1]->extents.center());
    desktop.run("xdotool", {"keyup", "shift"});
    const auto typedText = [&] {
        QFile file(typed);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    EXPECT_TRUE(pumpUntil([&] { return typedText() == forXterm; }, 5s)) << typedText().data();

    // A window that went while the panel was open gets nothing, and
    // neither does any other.
    ASSERT_TRUE(openWithTwoRows()) << app.describe();
    xterm.kill();
    xterm.waitForFinished(2000);
    pumpFor(300ms);
    desktop.key("Down Down shift+Return");
    EXPECT_TRUE(pumpUntil([&] { return desktop.paste() == twoLines; }, 5s));
    pumpFor(1s);
    EXPECT_EQ(field.text(), twoLines);
    EXPECT_TRUE(app.waitForPanelClosed());
}

}  // namespace
}  // namespace brimlet::e2e
