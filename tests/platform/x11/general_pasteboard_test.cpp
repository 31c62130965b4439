// Which clipboard adapter the application gets: ours on X11, Qt's elsewhere.
#include <gtest/gtest.h>

#include <QGuiApplication>

#include "platform/qt/qt_pasteboard.h"
#include "platform/system.h"
#include "platform/x11/x11_pasteboard.h"
#include "support/event_loop.h"

namespace brimlet::platform {
namespace {

bool gOnTestDisplay = false;

TEST(GeneralPasteboard, IsTheX11AdapterOnXcbAndQtsClipboardElsewhere) {
    Pasteboard& pasteboard = generalPasteboard();
    EXPECT_EQ(&pasteboard, &generalPasteboard());
    EXPECT_EQ(QGuiApplication::platformName() == QLatin1String("xcb"), gOnTestDisplay);
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        EXPECT_NE(dynamic_cast<X11Pasteboard*>(&pasteboard), nullptr);
    } else {
        EXPECT_NE(dynamic_cast<QtPasteboard*>(&pasteboard), nullptr);
    }
}

}  // namespace
}  // namespace brimlet::platform

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Without the private test display Qt runs offscreen.
    brimlet::platform::gOnTestDisplay = brimlet::testing::useTestDisplay();
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
