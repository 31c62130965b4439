#include "platform/ui/menu_bar_extra.h"

#include <gtest/gtest.h>

namespace brimlet::platform::ui {
namespace {

TEST(PanelPlacement, NextToTheIconOrTheClickAndInsideTheScreen) {
    const QSize panel(340, 420);
    const QRect belowBar(0, 24, 1280, 776);
    // Icon in a top bar near the right edge: below it, pushed inside; in the
    // middle: centred under it.
    EXPECT_EQ(panelGeometry(panel, QRect(1257, 1, 22, 22), belowBar), QRect(940, 24, 340, 420));
    EXPECT_EQ(panelGeometry(panel, QRect(629, 1, 23, 22), belowBar), QRect(470, 24, 340, 420));
    // Icon in a bottom bar: above it.
    EXPECT_EQ(panelGeometry(panel, QRect(100, 778, 22, 22), QRect(0, 0, 1280, 776)),
              QRect(0, 356, 340, 420));
    // A screen smaller than the panel, as 1280x800 at scale 2: it shrinks to
    // the room beside the icon, also where the bar reserves none.
    EXPECT_EQ(panelGeometry(panel, QRect(600, 0, 12, 12), QRect(0, 0, 640, 400)),
              QRect(300, 12, 340, 388));
    EXPECT_EQ(panelGeometry(panel, QRect(10, 288, 22, 12), QRect(0, 0, 300, 300)),
              QRect(0, 0, 300, 288));

    // A tray that names no icon rectangle: a click in a bar of unknown
    // height is taken to lie in its middle; far from any edge, on no bar.
    const QRect screen(0, 0, 1280, 800);
    EXPECT_EQ(panelGeometry(panel, iconAround(QPoint(15, 15), screen), screen).topLeft(),
              QPoint(0, 31));
    EXPECT_EQ(panelGeometry(panel, iconAround(QPoint(600, 785), screen), screen),
              QRect(430, 351, 340, 420));
    EXPECT_EQ(iconAround(QPoint(600, 400), screen), QRect(600, 400, 1, 1));
}

}  // namespace
}  // namespace brimlet::platform::ui
