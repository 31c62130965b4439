// Brimlet with StatusNotifier trays: xfce4-panel on X11, starting after it,
// its bar at the top or the bottom; and waybar under sway, where texts come
// from and go back to Wayland programs. The host tells the item nothing
// about where its icon is: on xfce4-panel the test finds the icon by its
// colours and clicks it; headless sway has no pointer, so there the test
// calls Activate as waybar does on a click.
#include <QImage>
#include <ostream>

#include "e2e/app.h"

namespace brimlet::testing {
// For test names.
void PrintTo(Desktop::Edge edge, std::ostream* out) {
    *out << (edge == Desktop::Edge::Top ? "top" : "bottom");
}
}  // namespace brimlet::testing

namespace brimlet::e2e {
namespace {

using Edge = Desktop::Edge;

// Where the paperclip's stroke (resources/paperclip.svg) is drawn in `area`.
std::optional<QRect> findIcon(const Desktop& desktop, const QRect& area) {
    const QImage screen = QImage::fromData(desktop.run("import", {"-window", "root", "ppm:-"}));
    QRect found;
    int count = 0;
    for (int y = area.top(); y <= area.bottom() && !screen.isNull(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = screen.pixelColor(x, y);
            // The stroke's edges blend into the bar.
            if (std::abs(c.red() - 0x56) + std::abs(c.green() - 0x70) + std::abs(c.blue() - 0x8c) <=
                30) {
                found |= QRect(x, y, 1, 1);
                ++count;
            }
        }
    }
    return count >= 12 ? std::optional<QRect>(found) : std::nullopt;
}

class Xfce : public DesktopTest, public ::testing::WithParamInterface<Edge> {
  protected:
    Xfce() : DesktopTest(Desktop::Kind::Xfce, GetParam()) {}
};

TEST_P(Xfce, TheIconOpensThePanelBesideItAndTheMenuPausesAndQuits) {
    Brimlet app(desktop);
    ASSERT_TRUE(saysNoTray(app)) << app.standardError().constData();
    ASSERT_TRUE(desktop.startTray()) << desktop.failure().toStdString();
    const auto item = TrayItem::waitFor(desktop, app.process().processId());
    ASSERT_TRUE(item) << "no item registered with the later watcher";
    const QRect bar = *desktop.barGeometry();
    std::optional<QRect> icon;
    ASSERT_TRUE(pumpUntil([&] { return (icon = findIcon(desktop, bar)).has_value(); }, 10s))
        << "no paperclip on the bar";

    // Other entries may stand between these two.
    const QStringList menu = item->menu();
    EXPECT_EQ(menu.value(0), "Open Brimlet") << menu.join(" | ").toStdString();
    EXPECT_GT(menu.indexOf("Quit"), 0) << menu.join(" | ").toStdString();

    // What is copied while paused stays out, even on resuming.
    ASSERT_TRUE(item->choose("Pause history"));
    ASSERT_TRUE(pumpUntil([&] { return item->menu().contains("Resume history"); }, 5s));
    desktop.copy("copied while paused");
    pumpFor(1200ms);
    ASSERT_TRUE(item->choose("Resume history"));
    pumpFor(1200ms);
    for (const char* text : {"apple pie", "banana split"}) {
        desktop.copy(text);
        pumpFor(200ms);  // a human pace, not a flood
    }

    desktop.click(icon->center());
    auto panel = app.waitForRows({"banana split", "apple pie"});
    ASSERT_TRUE(panel) << app.describe();
    EXPECT_TRUE(besideIcon(panelWindow(*panel), *icon, bar));
    EXPECT_TRUE(desktop.screenshot(
        output(GetParam() == Edge::Top ? "xfce-top-panel.png" : "xfce-bottom-panel.png")));
    desktop.type("APPLE");
    panel = app.waitForRows({"apple pie"});
    ASSERT_TRUE(panel) << app.describe();
    desktop.click(rows(*panel)[0]->extents.center());
    EXPECT_TRUE(pumpUntil([&] { return desktop.paste() == "apple pie"; }, 5s));

    ASSERT_TRUE(item->choose("Quit"));
    EXPECT_TRUE(app.waitForExit()) << app.standardError().constData();
}

INSTANTIATE_TEST_SUITE_P(BarEdges, Xfce, ::testing::Values(Edge::Top, Edge::Bottom),
                         [](const ::testing::TestParamInfo<Edge>& edge) {
                             return edge.param == Edge::Top ? "BarAtTheTop" : "BarAtTheBottom";
                         });

class Sway : public DesktopTest {
  protected:
    Sway() : DesktopTest(Desktop::Kind::Sway) {}
};

TEST_F(Sway, WaylandCopiesArePickedFromThePanelAndPastedInWayland) {
    // Here the bar is there first.
    ASSERT_TRUE(desktop.startTray()) << desktop.failure().toStdString();
    Brimlet app(desktop);
    const auto item = TrayItem::waitFor(desktop, app.process().processId());
    ASSERT_TRUE(item) << "no item registered: " << app.standardError().constData();
    EXPECT_EQ(item->text("Id"), "Brimlet");
    EXPECT_EQ(item->text("Title"), "Brimlet");
    pumpFor(700ms);  // polling starts a moment after the item is up

    for (const char* text : {"copied in a Wayland program", "copied there again", "other"}) {
        desktop.copy(text);
        pumpFor(200ms);
    }
    // waybar passes the click's place inside the icon, not on the screen.
    ASSERT_TRUE(item->activate({11, 13}));
    auto panel = app.waitForRows({"other", "copied there again", "copied in a Wayland program"});
    ASSERT_TRUE(panel) << app.describe();
    const QRect window = panelWindow(*panel);
    EXPECT_TRUE(Desktop::kScreen.contains(window) && !window.intersects(*desktop.barGeometry()))
        << "the panel at " << window.x() << "," << window.y();
    EXPECT_TRUE(desktop.screenshot(output("sway-panel.png")));

    // Keys reach the panel through XWayland; the keypad's Enter picks too.
    desktop.type("COPIED");
    ASSERT_TRUE(app.waitForRows({"copied there again", "copied in a Wayland program"}));
    desktop.key("Down Down KP_Enter");
    EXPECT_TRUE(pumpUntil([&] { return desktop.paste() == "copied in a Wayland program"; }, 5s))
        << "wl-paste gives: " << desktop.paste().constData();
    EXPECT_TRUE(app.waitForRows({"copied in a Wayland program", "copied there again"}));

    // X programs paste it too. sway lets them read the clipboard only while
    // an X window has its focus, as the one that pastes has on a desktop.
    QProcess xWindow;
    xWindow.setProcessEnvironment(desktop.environment());
    xWindow.start("xmessage", {"-geometry", "200x50+0+0", "pasting here"});
    EXPECT_TRUE(pumpUntil(
        [&] {
            return desktop.run("xclip", {"-selection", "clipboard", "-o"}) ==
                   "copied in a Wayland program";
        },
        5s));
    xWindow.kill();
    xWindow.waitForFinished();

    // Shift+Return pastes into the Wayland program that had the focus.
    EXPECT_TRUE(desktop.run(BRIMLET_BINARY, {"--version"})
                    .contains("\npaste: Wayland zwp_virtual_keyboard_v1\n"));
    desktop.key("Escape");
    ASSERT_TRUE(app.waitForPanelClosed());
    PasteTarget field(desktop, {"QT_QPA_PLATFORM=wayland"});
    ASSERT_TRUE(field.waitForFocus());
    EXPECT_TRUE(Brimlet(desktop).waitForExit());
    ASSERT_TRUE(app.waitForRows({"copied in a Wayland program", "other", "copied there again"}))
        << app.describe();
    desktop.key("Down Down shift+Return");
    EXPECT_TRUE(pumpUntil([&] { return field.text() == "other"; }, 5s)) << field.text().constData();
    EXPECT_TRUE(field.focused());
    EXPECT_EQ(desktop.run("wl-paste", {"--primary", "--no-newline"}), "other");

    // Closed while the panel was open: no keys, not even for the window
    // that has the focus after it.
    PasteTarget second(desktop, {"QT_QPA_PLATFORM=wayland"});
    ASSERT_TRUE(second.waitForFocus());
    EXPECT_TRUE(Brimlet(desktop).waitForExit());
    ASSERT_TRUE(app.waitForPanel());
    second.close();
    EXPECT_TRUE(field.waitForFocus());
    desktop.key("Down Down shift+Return");
    EXPECT_TRUE(pumpUntil([&] { return desktop.paste() == "copied in a Wayland program"; }, 5s));
    pumpFor(1s);
    EXPECT_EQ(field.text(), "other");
    ASSERT_TRUE(item->choose("Quit"));
    EXPECT_TRUE(app.waitForExit()) << app.standardError().constData();
}

}  // namespace
}  // namespace brimlet::e2e
