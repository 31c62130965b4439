// What the rows show at scale 2 on a 1280x800 screen with an XEmbed tray:
// right-to-left texts, hidden characters and emoji, inside the free area.
#include <algorithm>

#include "e2e/app.h"

namespace brimlet::e2e {
namespace {

class Rows : public DesktopTest {
  protected:
    Rows() : DesktopTest(Desktop::Kind::Trayer) {}
};

TEST_F(Rows, AtScaleTwoThePanelFitsTheFreeAreaAndRowsShowWhatWillBePasted) {
    ASSERT_TRUE(desktop.startTray()) << desktop.failure().toStdString();
    Brimlet app(desktop, {"QT_SCALE_FACTOR=2"});
    const auto icon = app.waitForTrayIcon();
    ASSERT_TRUE(icon) << "no icon docked";
    const QByteArray hidden = "\x1b[31mred\x07 \x7f \u202Eabc\xc2\x9b";
    const QList<QByteArray> texts = {
        QByteArray("\u05DE\u05D9\u05DC\u05D4 ").repeated(40),
        QByteArray("\u0643\u0644\u0645\u0629 ").repeated(40), hidden,
        "\U0001F44D\U0001F3FD \U0001F3F3\uFE0F\u200D\U0001F308 \u2764\uFE0F\u200D\U0001F525",
        "\n\n\nstarts with blank lines"};
    for (const QByteArray& text : texts) {
        desktop.copy(text);
        pumpFor(300ms);
    }
    desktop.click(icon->center());
    ASSERT_TRUE(app.waitForPanel([&](const A11yNode& p) { return rows(p).size() == 5; }))
        << app.describe();

    // The panel, in the system's pixels, is off the bar and on the screen.
    const auto windows = desktop.windows("brimlet");
    const QRect window = *std::max_element(
        windows.begin(), windows.end(), [](auto& a, auto& b) { return a.height() < b.height(); });
    EXPECT_TRUE(besideIcon(window, *icon, desktop.barGeometry().value_or(QRect())));
    EXPECT_EQ(window.width(), 680);

    // The pictures: the rows, then the newest one's preview.
    EXPECT_TRUE(desktop.screenshot(output("rows-scale2.png")));
    desktop.key("Down");
    pumpFor(1500ms);
    EXPECT_TRUE(desktop.screenshot(output("rows-preview-scale2.png")));
    desktop.key("Down Down Return");
    EXPECT_TRUE(pumpUntil([&] { return desktop.paste() == hidden; }, 5s));
}

}  // namespace
}  // namespace brimlet::e2e
