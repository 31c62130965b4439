// The Wayland clipboard adapter against a real compositor (headless sway),
// with wl-clipboard, xclip under XWayland and a scripted owner (wl_owner)
// on the other side.
#include "platform/wayland/wayland_pasteboard.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <chrono>
#include <cstdlib>
#include <list>
#include <string>

#include "history/clip_store.h"
#include "platform/qt/qt_scheduling.h"
#include "support/event_loop.h"

namespace brimlet::platform {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using testing::pumpFor;
using testing::pumpUntil;
using testing::runPumping;

QByteArray bytes(std::string_view text) {
    return {text.data(), static_cast<qsizetype>(text.size())};
}

class WaylandPasteboardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("WAYLAND_DISPLAY") == nullptr) {
            GTEST_SKIP() << "needs a compositor with data-control: set "
                            "BRIMLET_TEST_WAYLAND_DISPLAY (tools/test-all starts a private "
                            "headless sway); never run against a desktop's clipboard";
        }
        open();
    }
    void TearDown() override {
        for (QProcess& process : programs) {
            process.kill();
            process.waitForFinished(5000);
        }
        board.reset();
    }

    void open(TransferLimits limits = {}) {
        board = openWaylandPasteboard(nullptr, limits);
        ASSERT_NE(board, nullptr) << "the compositor offers no data-control protocol";
        // Whatever an earlier test left behind is read first.
        pumpFor(200ms);
        while (board->changeCount() != board->changeCount()) {
        }
    }

    // A Wayland program copies `text` and keeps serving it; one pastes.
    static void wlCopy(const QByteArray& text) { runPumping("wl-copy", {}, text); }
    static QByteArray wlPaste() { return runPumping("wl-paste", {"--no-newline"}, {}, 20s); }
    // Our scripted owner takes the clipboard; returns once it has.
    QProcess& owner(const QStringList& arguments) {
        QProcess& process = programs.emplace_back();
        process.start(BRIMLET_WL_OWNER, arguments);
        EXPECT_TRUE(pumpUntil([&] { return process.canReadLine(); }, 5s))
            << "wl_owner did not take the clipboard: " << process.readAllStandardError().data();
        return process;
    }
    // Waits until the counter moves, as a poll would see it.
    bool changed(std::int64_t since, std::chrono::milliseconds timeout = 2s) {
        return pumpUntil([&] { return board->changeCount() != since; }, timeout);
    }

    std::unique_ptr<WorkerPasteboard> board;
    std::list<QProcess> programs;
};

TEST_F(WaylandPasteboardTest, CapturesWaylandCopiesWithoutFocusAndInOrder) {
    const std::int64_t before = board->changeCount();
    wlCopy("hello from wayland");
    ASSERT_TRUE(changed(before, 1s)) << "a wl-copy was not seen within a second";
    EXPECT_EQ(board->string().value_or(Text()).bytes(), "hello from wayland");

    // Quick copies each reach a store polling at its usual pace, in order.
    // Polling never stops, so its timer and queue live as long as the process.
    static QtTimerScheduler timers;
    static QtMainExecutor executor;
    const auto store =
        ClipStore::make({.generalPasteboard = [this]() -> Pasteboard& { return *board; },
                         .timers = &timers,
                         .mainExecutor = &executor});
    store->start();
    for (int i = 0; i < 10; ++i) {
        wlCopy(QByteArray("quick ") + QByteArray::number(i));
        pumpFor(100ms);
    }
    ASSERT_TRUE(pumpUntil([&] { return store->items().size() >= 11; }, 10s));
    for (std::size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(store->items()[9 - i].text.bytes(), "quick " + std::to_string(i));
    }
}

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

    // X programs under XWayland get it too. sway lets them read the
    // clipboard only while an X window has the focus, as the one that pastes
    // has on a desktop.
    if (const char* xwayland = std::getenv("BRIMLET_TEST_XWAYLAND_DISPLAY")) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", xwayland);
        const auto inX = [&](QProcess& process, const QString& program, const QStringList& args) {
            process.setProcessEnvironment(environment);
            process.start(program, args);
        };
        const auto outputInX = [&](const QString& program, const QStringList& args) {
            QProcess process;
            inX(process, program, args);
            pumpUntil([&] { return process.state() == QProcess::NotRunning; }, 10s);
            return process.readAllStandardOutput();
        };
        inX(programs.emplace_back(), "xmessage", {"-geometry", "200x50+0+0", "pasting here"});
        EXPECT_TRUE(pumpUntil(
            [&] { return !outputInX("xdotool", {"getactivewindow"}).trimmed().isEmpty(); }, 5s))
            << "no X window took the focus";
        const QByteArray expected("to an X program \xC3\xA9");
        board->setString(Text(expected.toStdString()));
        // XWayland takes the selection over a moment after the compositor has it.
        QByteArray pasted;
        pumpUntil(
            [&] {
                pasted = outputInX("xclip", {"-selection", "clipboard", "-o"});
                return pasted == expected;
            },
            5s);
        EXPECT_EQ(pasted, expected);
    }

    // Cleared, the clipboard offers no text at all.
    board->clearContents();
    pumpFor(100ms);
    EXPECT_TRUE(wlPaste().isEmpty());
}

TEST_F(WaylandPasteboardTest, ATextOutlivesTheProgramThatCopiedItButAPasswordDoesNot) {
    // wl-copy --paste-once serves one reader (us) and ends.
    std::int64_t count = board->changeCount();
    runPumping("wl-copy", {"--paste-once"}, "outlives its program");
    ASSERT_TRUE(changed(count));
    pumpFor(300ms);
    count = board->changeCount();
    QByteArray pasted;
    pumpUntil([&] { return !(pasted = wlPaste()).isEmpty(); }, 3s);
    EXPECT_EQ(pasted, "outlives its program");
    EXPECT_EQ(board->changeCount(), count) << "keeping the text counted as a change";

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
    ASSERT_TRUE(changed(count, 3s));
    EXPECT_FALSE(board->string());
    count = board->changeCount();
    wlCopy("after the silent one");
    ASSERT_TRUE(changed(count));
    EXPECT_EQ(board->string().value_or(Text()).bytes(), "after the silent one");

    // A silent owner replaced at once does not hold the next copy up.
    owner({"silent"});
    wlCopy("right behind it");
    ASSERT_TRUE(pumpUntil(
        [&] {
            (void)board->changeCount();
            return board->string().value_or(Text()).bytes() == "right behind it";
        },
        1s));

    // Whatever the hint's value, the text is a secret.
    for (const char* value : {"secret", "secret\n", "1"}) {
        count = board->changeCount();
        owner({"hint", "hunter2", value});
        ASSERT_TRUE(changed(count)) << value;
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
