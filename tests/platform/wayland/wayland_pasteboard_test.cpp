// The Wayland clipboard adapter against a real compositor (headless sway),
// with wl-clipboard and a scripted owner (wl_owner) on the other side.
#include "platform/wayland/wayland_pasteboard.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <chrono>
#include <cstdlib>
#include <string>

#include "support/adapter_test.h"

namespace brimlet::platform {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using testing::bytes;
using testing::pumpFor;
using testing::pumpUntil;
using testing::runPumping;

class WaylandPasteboardTest : public testing::AdapterTest {
  protected:
    void SetUp() override {
        if (std::getenv("WAYLAND_DISPLAY") == nullptr) {
            GTEST_SKIP() << "needs a compositor with data-control: set "
                            "BRIMLET_TEST_WAYLAND_DISPLAY (tools/test-all starts a private "
                            "headless sway); never run against a desktop's clipboard";
        }
        open();
    }
    void open(TransferLimits limits = {}) {
        board = openWaylandPasteboard(nullptr, limits);
        ASSERT_NE(board, nullptr) << "the compositor offers no data-control protocol";
        // Whatever an earlier test left behind is read first; each look at
        // the counter takes one waiting change.
        pumpFor(200ms);
        while (board->changeCount() != board->changeCount()) {
        }
    }

    // A Wayland program copies `text` and keeps serving it; one pastes.
    static void wlCopy(const QByteArray& text) { runPumping("wl-copy", {}, text); }
    static QByteArray wlPaste() { return runPumping("wl-paste", {"--no-newline"}, {}, 20s); }
    QProcess& owner(const QStringList& arguments) {
        return AdapterTest::owner(BRIMLET_WL_OWNER, arguments);
    }
};

TEST_F(WaylandPasteboardTest, CopyBackIsServedByteForByteAndNotCountedAgain) {
    for (const std::string& text : {"plain words"s, "caf\xC3\xA9 \xFF\xFE broken"s, "nul\0inside"s,
                                    std::string(20U << 20, 'x') + "end"}) {
        board->clearContents();
        board->setString(Text(text));
        const std::int64_t written = board->changeCount();
        // The worker takes the clipboard a moment after setString returns.
        QByteArray pasted;
        pumpUntil([&] { return (pasted = wlPaste()) == bytes(text); }, 5s);
        EXPECT_TRUE(pasted == bytes(text)) << "wl-paste got something else for " << text.size();
        pumpFor(100ms);
        EXPECT_EQ(board->changeCount(), written) << "our own selection came back as a change";
    }

    // Cleared, the clipboard offers no text at all.
    board->clearContents();
    pumpFor(100ms);
    EXPECT_TRUE(wlPaste().isEmpty());
}

TEST_F(WaylandPasteboardTest, ATextOutlivesTheProgramThatCopiedItButAPasswordDoesNot) {
    // Seen at once, with no window and no focus.
    wlCopy("hello from wayland");
    EXPECT_TRUE(waitForText("hello from wayland", 1s)) << "a wl-copy was not seen within a second";

    // wl-copy --paste-once serves one reader (us) and ends.
    std::int64_t count = board->changeCount();
    runPumping("wl-copy", {"--paste-once"}, "outlives its program");
    ASSERT_TRUE(waitForChange(count));
    pumpFor(300ms);
    count = board->changeCount();
    QByteArray pasted;
    pumpUntil([&] { return !(pasted = wlPaste()).isEmpty(); }, 3s);
    EXPECT_EQ(pasted, "outlives its program");
    EXPECT_EQ(board->changeCount(), count) << "keeping the text counted as a change";

    // A program that writes its whole text with one write() expects a
    // blocking pipe; every byte arrives, and is kept whole after it ends.
    std::string large(1U << 20, 'a');
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<char>('a' + i % 26);
    }
    QProcess& writer = owner({"large", QString::number(large.size())});
    EXPECT_TRUE(waitForText(large)) << "the text read is not the one written";
    writer.kill();
    writer.waitForFinished(2000);
    pumpUntil([&] { return !(pasted = wlPaste()).isEmpty(); }, 3s);
    EXPECT_TRUE(pasted == bytes(large)) << "kept " << pasted.size() << " bytes";

    QProcess& password = owner({"hint", "hunter2", "secret"});
    pumpFor(200ms);
    password.kill();
    password.waitForFinished(2000);
    pumpFor(300ms);
    EXPECT_TRUE(wlPaste().isEmpty()) << "a password was kept after its program ended";
}

TEST_F(WaylandPasteboardTest, SilentOwnersAndPasswordsYieldChangesWithoutText) {
    board.reset();
    open({.requestTimeout = 300ms, .fetchTimeout = 1s});

    // An owner that never writes costs a change without text once the bound
    // passes; the copy after it is read as usual.
    std::int64_t count = board->changeCount();
    owner({"silent"});
    ASSERT_TRUE(waitForChange(count, 3s));
    EXPECT_FALSE(board->string());
    wlCopy("after the silent one");
    EXPECT_TRUE(waitForText("after the silent one"));

    // A silent owner replaced at once does not hold the next copy up.
    owner({"silent"});
    wlCopy("right behind it");
    EXPECT_TRUE(waitForText("right behind it", 1s));

    // Whatever the hint's value, the text is a secret.
    for (const char* value : {"secret", "secret\n", "1"}) {
        count = board->changeCount();
        owner({"hint", "hunter2", value});
        ASSERT_TRUE(waitForChange(count)) << value;
        EXPECT_FALSE(board->string()) << "a password was read with the hint " << value;
    }
}

}  // namespace
}  // namespace brimlet::platform

int main(int argc, char** argv) {
    // Only a private compositor, never the desktop the tests run from.
    const char* display = std::getenv("BRIMLET_TEST_WAYLAND_DISPLAY");
    if (display != nullptr && *display != '\0') {
        setenv("WAYLAND_DISPLAY", display, 1);
    } else {
        unsetenv("WAYLAND_DISPLAY");
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
