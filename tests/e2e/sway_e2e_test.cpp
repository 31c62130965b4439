// Brimlet in a wlroots session: headless sway with XWayland, and waybar,
// whose tray is a StatusNotifier host. Texts come from a Wayland program
// (wl-copy) and picked entries go back to Wayland programs (wl-paste).
// Headless sway has no pointer: the test calls the item's Activate as the
// bar does on a click, and types through XWayland (xdotool), where the
// panel's widgets live.
#include <gtest/gtest.h>

#include <QDir>

#include "e2e/desktop.h"
#include "e2e/status_notifier.h"
#include "support/desktop_session.h"

namespace brimlet::e2e {
namespace {

using testing::SwaySession;

void wlCopy(const QByteArray& text) {
    run("wl-copy", {}, text);
}

QByteArray wlPaste() {
    return run("wl-paste", {"--no-newline"});
}

class Sway : public ::testing::Test {
  protected:
    void startSession(bool withBar) {
        session_ = std::make_unique<SwaySession>(withBar);
        if (!session_->running()) {
            GTEST_SKIP() << "no sway session: " << session_->failure().toStdString();
        }
        use_ = std::make_unique<UseEnvironment>(session_->environment());
    }

    std::unique_ptr<SwaySession> session_;
    std::unique_ptr<UseEnvironment> use_;
};

TEST_F(Sway, TheTrayItemOpensThePanelAndAPickedEntryIsWhatWaylandProgramsPaste) {
    startSession(true);
    if (IsSkipped()) {
        return;
    }
    const QDBusConnection bus = session_->bus();
    BrimletProcess app(session_->busAddress(), session_->environment());
    ASSERT_TRUE(app.start());

    const auto item = waitForItemOf(bus, app.process().processId(), 10s);
    ASSERT_TRUE(item) << "Brimlet's item is not registered with the watcher; registered: "
                      << describeRegisteredItems(bus).toStdString() << "\n"
                      << app.standardError().toStdString();
    EXPECT_EQ(itemProperty(bus, *item, "Id").toString().toStdString(), "Brimlet");
    EXPECT_EQ(itemProperty(bus, *item, "Title").toString().toStdString(), "Brimlet");

    // Copies in a Wayland program, with no window focused.
    pauseFor(700ms);
    wlCopy("copied in a Wayland program");
    pauseFor(700ms);
    wlCopy("copied there again");
    pauseFor(700ms);

    // waybar passes the click's place inside the icon, not on the screen.
    ASSERT_TRUE(activate(bus, *item, {11, 13}));
    auto panel = app.waitForPanel([](const A11yNode&) { return true; });
    ASSERT_TRUE(panel) << "the panel did not open on Activate:\n" << app.describe();
    const QRect window = panelWindow(*panel);
    EXPECT_TRUE(session_->screen().contains(window)) << window.x() << "," << window.y();
    EXPECT_FALSE(window.intersects(session_->barGeometry()))
        << "the panel covers the bar: top at " << window.y();
    QDir().mkpath(BRIMLET_E2E_OUTPUT_DIR);
    EXPECT_TRUE(session_->screenshot(BRIMLET_E2E_OUTPUT_DIR "/sway-panel.png"));
    panel = app.waitForPanel([](const A11yNode& p) { return rows(p).size() == 2; });
    ASSERT_TRUE(panel) << "the Wayland copies are not listed:\n" << app.describe();
    EXPECT_EQ(rowTexts(*panel), (QStringList{"copied there again", "copied in a Wayland program"}));

    // Keys reach the panel: the older entry goes back on the clipboard.
    pressKey("Down");
    pressKey("Down");
    pressKey("Return");
    EXPECT_TRUE(waitFor([] { return wlPaste() == "copied in a Wayland program"; }))
        << "wl-paste gives: " << wlPaste().toStdString();
    panel = app.waitForPanel(
        [](const A11yNode& p) { return rowTexts(p).value(0) == "copied in a Wayland program"; });
    ASSERT_TRUE(panel) << app.describe();
    EXPECT_EQ(rowTexts(*panel), (QStringList{"copied in a Wayland program", "copied there again"}));
}

TEST_F(Sway, ABarThatStartsAfterBrimletGetsTheIcon) {
    startSession(false);
    if (IsSkipped()) {
        return;
    }
    BrimletProcess app(session_->busAddress(), session_->environment());
    ASSERT_TRUE(app.start());
    pauseFor(1500ms);  // it has looked for a tray and found none
    ASSERT_EQ(app.process().state(), QProcess::Running) << app.standardError().toStdString();

    if (!session_->startBar()) {
        GTEST_SKIP() << "waybar did not start: " << session_->failure().toStdString();
    }
    const auto item = waitForItemOf(session_->bus(), app.process().processId(), 10s);
    EXPECT_TRUE(item) << "no item registered with the later watcher; registered: "
                      << describeRegisteredItems(session_->bus()).toStdString();
}

}  // namespace
}  // namespace brimlet::e2e
