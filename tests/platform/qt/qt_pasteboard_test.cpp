// The store on Qt's clipboard, timers and queue, against a real X server.
#include "platform/qt/qt_pasteboard.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QProcess>

#include "history/clip_store.h"
#include "platform/qt/qt_scheduling.h"
#include "support/event_loop.h"

namespace brimlet {
namespace {

using testing::pumpUntil;

class QtPasteboardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != "xcb") {
            GTEST_SKIP() << "needs the private test display (run tools/test-all)";
        }
    }
    platform::QtPasteboard pasteboard{QGuiApplication::clipboard()};
};

TEST_F(QtPasteboardTest, CapturesCopiesButNoPasswordsAndCopiesBackWithoutRecapturing) {
    platform::QtTimerScheduler timers;
    platform::QtMainExecutor executor;
    const auto store = ClipStore::make({
        .generalPasteboard = [&]() -> platform::Pasteboard& { return pasteboard; },
        .timers = &timers,
        .mainExecutor = &executor,
    });
    store->start();
    for (const char* text : {"first from xclip", "second \xc3\xa9"}) {
        testing::runPumping("xclip", {"-selection", "clipboard", "-i"}, text);
        ASSERT_TRUE(pumpUntil([&] {
            return !store->items().empty() && store->items().front().text.bytes() == text;
        }));
    }
    const ClipItem older = store->items()[1];
    store->copyBack(older);
    EXPECT_EQ(testing::runPumping("xclip", {"-selection", "clipboard", "-o"}), "first from xclip");
    const auto after = store->items();
    const auto count = pasteboard.changeCount();
    // Our own ownership must not come back as a change, nor as a new entry.
    testing::pumpFor(std::chrono::milliseconds(1200));
    EXPECT_EQ(pasteboard.changeCount(), count);
    EXPECT_EQ(store->items(), after);

    // The password hint hides the text, whatever its value.
    for (const char* mode : {"secret", "normal"}) {
        const std::int64_t before = pasteboard.changeCount();
        QProcess owner;
        owner.start(BRIMLET_CLIP_OWNER, {mode, "hunter2", "1"});
        ASSERT_TRUE(pumpUntil([&] { return owner.canReadLine(); }));
        ASSERT_TRUE(pumpUntil([&] { return pasteboard.changeCount() != before; }));
        EXPECT_EQ(pasteboard.string().has_value(), std::string(mode) == "normal") << mode;
        owner.kill();
        owner.waitForFinished();
    }
}

}  // namespace
}  // namespace brimlet

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Without the private test display the tests skip rather than fail.
    brimlet::testing::useTestDisplay();
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
