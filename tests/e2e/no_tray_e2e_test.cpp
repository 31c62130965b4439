// A desktop without a tray host: Brimlet says so once, keeps the history,
// opens its panel for a second start, and docks as soon as a tray starts.
#include <gtest/gtest.h>

#include "e2e/desktop.h"

namespace brimlet::e2e {
namespace {

constexpr char kNoTray[] =
    "brimlet: no system tray is available; the Brimlet icon will appear as soon as one starts, "
    "and until then running brimlet again opens its panel.\n";

class NoTray : public EndToEndTest {};

TEST_F(NoTray, KeepsTheHistoryAndDocksWhenATrayHostStarts) {
    PrivateDisplay display;
    ASSERT_FALSE(display.name().isEmpty()) << "Xvfb did not start";
    const UseDisplay use(display.name());
    SessionBus bus;
    BrimletProcess app(bus);
    ASSERT_TRUE(app.start());
    ASSERT_TRUE(waitFor([&] { return app.standardError().contains(kNoTray); }, 10s))
        << "no word about the missing tray: " << app.standardError().toStdString();

    // Said before the event loop runs; polling starts a little later.
    pauseFor(1s);
    copyAndSettle("copied with no tray");
    copyAndSettle("copied with no tray, again");
    EXPECT_EQ(app.process().state(), QProcess::Running);
    EXPECT_FALSE(app.waitForTrayIcon(500ms));

    // A second start opens the panel in the top-right corner of the screen.
    BrimletProcess second(bus);
    ASSERT_TRUE(second.start());
    EXPECT_TRUE(second.waitForExit(1s)) << second.standardError().toStdString();
    auto panel = app.waitForPanel([](const A11yNode& p) { return rowTexts(p).size() == 2; });
    ASSERT_TRUE(panel) << "the panel did not open for a second start:\n" << app.describe();
    EXPECT_EQ(rowTexts(*panel), (QStringList{"copied with no tray, again", "copied with no tray"}));
    EXPECT_EQ(panelWindow(*panel), QRect(940, 0, 340, 420));
    pressKey("Escape");
    ASSERT_TRUE(app.waitForPanelClosed());
    // A click on the icon right after closing counts as the closing click.
    pauseFor(400ms);

    // The tray host starts; the icon docks without a restart.
    ASSERT_TRUE(display.startTrayHost());
    const auto icon = app.waitForTrayIcon(15s);
    ASSERT_TRUE(icon) << "the icon did not dock once the tray host started";
    app.clickTrayIcon();
    panel = app.waitForPanel([](const A11yNode& p) { return rowTexts(p).size() == 2; });
    ASSERT_TRUE(panel) << "the panel did not open from the icon:\n" << app.describe();
    EXPECT_EQ(rowTexts(*panel), (QStringList{"copied with no tray, again", "copied with no tray"}));
    // Next to the icon now, not in the corner.
    EXPECT_EQ(panelWindow(*panel).top(), icon->bottom() + 1);

    EXPECT_EQ(app.standardError().count("no system tray"), 1) << app.standardError().toStdString();
    pressKey("ctrl+q");
    EXPECT_TRUE(app.waitForExit()) << app.standardError().toStdString();
}

}  // namespace
}  // namespace brimlet::e2e
