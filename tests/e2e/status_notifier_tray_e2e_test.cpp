// Brimlet on X11 with a StatusNotifier tray: xfce4-panel's notification area
// hosts the item over D-Bus and tells it nothing about where the icon is.
// The icon is found on the screen by its colours, clicked like a person
// would, and the panel must open beside it, never over the bar.
#include <gtest/gtest.h>

#include <QDBusObjectPath>

#include "e2e/desktop.h"
#include "e2e/status_notifier.h"
#include "support/desktop_session.h"

namespace brimlet::e2e {
namespace {

using testing::XfcePanelSession;
using Edge = XfcePanelSession::Edge;

constexpr int kNearIcon = 50;

// The paperclip on the bar, once it is drawn there.
std::optional<QRect> waitForIconOnBar(const QRect& bar) {
    std::optional<QRect> icon;
    waitFor(
        [&] {
            icon = findColour(bar, kPaperclipColour);
            return icon.has_value();
        },
        10s);
    return icon;
}

class XfceDesktop : public ::testing::Test {
  protected:
    void startSession(Edge edge, bool withPanel) {
        session_ = std::make_unique<XfcePanelSession>(edge);
        if (!session_->running() || (withPanel && !session_->startPanel())) {
            GTEST_SKIP() << "no xfce4-panel session: " << session_->failure().toStdString();
        }
        use_ = std::make_unique<UseEnvironment>(session_->environment());
    }

    std::unique_ptr<XfcePanelSession> session_;
    std::unique_ptr<UseEnvironment> use_;
};

class XfcePanel : public XfceDesktop, public ::testing::WithParamInterface<Edge> {};

TEST_P(XfcePanel, AClickOnTheIconOpensThePanelBesideItAndTheMenuOffersOpenAndQuit) {
    startSession(GetParam(), true);
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

    const auto bar = session_->barGeometry();
    ASSERT_TRUE(bar);
    const auto icon = waitForIconOnBar(*bar);
    ASSERT_TRUE(icon) << "no paperclip on the bar";

    pauseFor(500ms);
    click(icon->center());
    const auto panel = app.waitForPanel([](const A11yNode&) { return true; });
    ASSERT_TRUE(panel) << "the panel did not open on a click on the icon:\n" << app.describe();
    const QRect window = panelWindow(*panel);
    const auto where = [&] {
        return QString("panel at %1,%2 %3x%4, icon at %5,%6, bar at y %7..%8")
            .arg(window.x())
            .arg(window.y())
            .arg(window.width())
            .arg(window.height())
            .arg(icon->x())
            .arg(icon->y())
            .arg(bar->top())
            .arg(bar->bottom())
            .toStdString();
    };
    EXPECT_LE(distance(window, *icon), kNearIcon) << where();
    EXPECT_FALSE(window.intersects(*bar)) << where();
    EXPECT_TRUE(session_->screen().contains(window)) << where();

    const auto menu = menuLabels(bus, *item);
    ASSERT_TRUE(menu)
        << "no menu to read at "
        << itemProperty(bus, *item, "Menu").value<QDBusObjectPath>().path().toStdString();
    // Other entries may stand between the two.
    EXPECT_EQ(menu->value(0).toStdString(), "Open Brimlet") << menu->join(" | ").toStdString();
    EXPECT_GT(menu->indexOf("Quit"), 0) << menu->join(" | ").toStdString();
}

INSTANTIATE_TEST_SUITE_P(BarEdges, XfcePanel, ::testing::Values(Edge::Top, Edge::Bottom),
                         [](const ::testing::TestParamInfo<Edge>& edge) {
                             return edge.param == Edge::Top ? "BarAtTheTop" : "BarAtTheBottom";
                         });

TEST_F(XfceDesktop, PausingFromTheMenuKeepsWhatIsCopiedMeanwhileOut) {
    startSession(Edge::Top, true);
    if (IsSkipped()) {
        return;
    }
    const QDBusConnection bus = session_->bus();
    BrimletProcess app(session_->busAddress(), session_->environment());
    ASSERT_TRUE(app.start());
    const auto item = waitForItemOf(bus, app.process().processId(), 10s);
    ASSERT_TRUE(item) << app.standardError().toStdString();
    pauseFor(700ms);  // polling has started

    ASSERT_TRUE(clickMenuEntry(bus, *item, "Pause history"));
    ASSERT_TRUE(waitFor(
        [&] { return menuLabels(bus, *item).value_or(QStringList{}).contains("Resume history"); }));
    copyWithXclip("copied while paused");
    pauseFor(1200ms);
    ASSERT_TRUE(clickMenuEntry(bus, *item, "Resume history"));
    pauseFor(1200ms);
    copyWithXclip("copied after resuming");
    pauseFor(1200ms);

    ASSERT_TRUE(activate(bus, *item, QPoint()));
    const auto panel = app.waitForPanel([](const A11yNode& p) { return !rowTexts(p).isEmpty(); });
    ASSERT_TRUE(panel) << app.describe();
    EXPECT_EQ(rowTexts(*panel), QStringList{"copied after resuming"});
}

TEST_F(XfceDesktop, AWatcherThatStartsAfterBrimletGetsTheIcon) {
    startSession(Edge::Top, false);
    if (IsSkipped()) {
        return;
    }
    BrimletProcess app(session_->busAddress(), session_->environment());
    ASSERT_TRUE(app.start());
    pauseFor(1500ms);  // it has looked for a tray and found none
    ASSERT_EQ(app.process().state(), QProcess::Running) << app.standardError().toStdString();

    if (!session_->startPanel()) {
        GTEST_SKIP() << "xfce4-panel did not start: " << session_->failure().toStdString();
    }
    const auto item = waitForItemOf(session_->bus(), app.process().processId(), 10s);
    EXPECT_TRUE(item) << "no item registered with the later watcher; registered: "
                      << describeRegisteredItems(session_->bus()).toStdString();
    const auto bar = session_->barGeometry();
    ASSERT_TRUE(bar);
    EXPECT_TRUE(waitForIconOnBar(*bar)) << "no paperclip on the bar";
}

}  // namespace
}  // namespace brimlet::e2e
