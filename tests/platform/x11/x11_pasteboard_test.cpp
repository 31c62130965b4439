// The X11 clipboard adapter against a real X server, with xclip and a
// scripted owner (brimlet_clip_owner) on the other side.
#include "platform/x11/x11_pasteboard.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/adapter_test.h"

namespace brimlet::platform {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using testing::bytes;
using testing::pumpFor;
using testing::pumpUntil;

bool gHasDisplay = false;

class X11PasteboardTest : public testing::AdapterTest {
  protected:
    void SetUp() override {
        if (!gHasDisplay) {
            GTEST_SKIP() << "needs an X display: set BRIMLET_TEST_DISPLAY (tools/test-all "
                            "starts a private Xvfb); never run against a desktop's clipboard";
        }
        open();
    }
    // Without limits as brimlet opens it, with the defaults it gets so.
    void open(std::optional<x11::SelectionLimits> limits = std::nullopt) {
        board = limits ? openX11Pasteboard(nullptr, *limits) : openX11Pasteboard(nullptr);
        ASSERT_NE(board, nullptr) << "cannot reach the display or it lacks XFixes";
        // Whatever an earlier test left behind is read first.
        pumpFor(150ms);
    }
    // Another program copies `text` and keeps serving it.
    QProcess& xclipCopy(const QByteArray& text) {
        return start("xclip", {"-selection", "clipboard", "-quiet"}, text);
    }
    // brimlet_clip_owner takes the clipboard (a storm: once it is over).
    QProcess& owner(const QString& mode, const QString& argument, const QStringList& extra = {}) {
        return AdapterTest::owner(BRIMLET_CLIP_OWNER, QStringList{mode, argument} + extra);
    }
    // What another program pastes; empty when it got nothing.
    static QByteArray paste(const QStringList& extra = {},
                            std::chrono::milliseconds timeout = 10s) {
        return testing::runPumping("xclip", QStringList{"-o", "-selection", "clipboard"} + extra,
                                   {}, timeout);
    }
};

TEST_F(X11PasteboardTest, LargeTextsComeAndGoWholeUnlessTooLarge) {
    // xclip sends 20 MB incrementally; above the limit that is contents
    // without text.
    std::string big(20U << 20, 'x');
    big.replace(big.size() - 3, 3, "end");
    open(x11::SelectionLimits{.maxTextBytes = 8U << 20});
    const std::int64_t before = board->changeCount();
    xclipCopy(bytes(big));
    ASSERT_TRUE(waitForChange(before, 30s));
    EXPECT_FALSE(board->string().has_value());
    xclipCopy(bytes(big.substr(0, 2U << 20)));
    EXPECT_TRUE(waitForText(big.substr(0, 2U << 20)));
    open();
    xclipCopy(bytes(big));
    EXPECT_TRUE(waitForText(big, 30s));
    // Ours goes out in pieces.
    board->setString(Text(big + "!"));
    EXPECT_TRUE(paste({}, 30s) == bytes(big + "!"));
}

TEST_F(X11PasteboardTest, HungOwnerBlocksNothingAndIsOvertakenByTheNextCopy) {
    // Left alone, a hung owner costs a change without text once the bound
    // passes: 2 s by default (room is left for a busy machine).
    xclipCopy("before the hung owner");
    ASSERT_TRUE(waitForText("before the hung owner"));
    std::int64_t before = board->changeCount();
    QProcess& hung = owner("hung", "never handed over");
    EXPECT_TRUE(waitForChange(before, 10s)) << "the reader waits for a hung owner too long";
    EXPECT_FALSE(board->string().has_value());
    hung.kill();
    hung.waitForFinished();

    // Long enough that only dropping the stale reading lets the next copy in.
    open(x11::SelectionLimits{.requestTimeout = 60s, .fetchTimeout = 60s});
    before = board->changeCount();
    owner("hung", "never handed over");
    for (int i = 0; i < 50; ++i) {
        EXPECT_FALSE(board->string().has_value());
        EXPECT_EQ(board->changeCount(), before);
        pumpFor(10ms);
    }

    xclipCopy("after the hung owner");
    EXPECT_TRUE(waitForText("after the hung owner", 10s));

    // An owner that answers a reading we gave up finds its window still
    // there: programs that die on an X error would lose their copy.
    QProcess& late = owner("late", "answers late", {"700"});
    pumpFor(100ms);
    xclipCopy("overtakes the late answer");
    EXPECT_TRUE(waitForText("overtakes the late answer"));
    EXPECT_TRUE(pumpUntil([&] { return late.state() == QProcess::NotRunning; }, 5s));
    EXPECT_EQ(late.exitCode(), 0) << late.readAllStandardError().toStdString();

    // Adapters come and go cleanly while they are asking a hung owner.
    for (int i = 0; i < 6; ++i) {
        owner("hung", "never handed over");
        auto reader = openX11Pasteboard(nullptr);
        ASSERT_NE(reader, nullptr);
        if (i % 2 == 0) {
            reader->setString(Text("round " + std::to_string(i)));
        }
        pumpFor(20ms);
        reader.reset();
    }
}

TEST_F(X11PasteboardTest, OnlyPlainTextsWithoutAPasswordHintAreTexts) {
    // The hint's presence marks a password, whatever its value, also when
    // the owner does not say what it offers; an answer of another type than
    // the text asked for is no text either.
    for (const QStringList& args :
         {QStringList{"secret", "hunter2", "secret"}, QStringList{"secret", "hunter2", "secret\n"},
          QStringList{"secret", "hunter2", "1"}, QStringList{"secret", "hunter2", ""},
          QStringList{"untargeted", "hunter2"}, QStringList{"integer", "not a text"}}) {
        const std::int64_t before = board->changeCount();
        owner(args[0], args[1], args.mid(2));
        ASSERT_TRUE(waitForChange(before)) << args.join(' ').toStdString();
        EXPECT_FALSE(board->string().has_value()) << args.join(' ').toStdString();
    }
    // The same text without the hint is an ordinary copy.
    const std::int64_t before = board->changeCount();
    owner("normal", "hunter2");
    ASSERT_TRUE(waitForChange(before));
    EXPECT_TRUE(holds("hunter2"));
}

// Polls at the store's pace until `text` shows; true if it did within
// `limit`. A storm's changes without text must never wait in line, so the
// copy after it shows as soon as the worker has read it. The limit leaves a
// sanitizer build time to work through a storm's thousands of events; how
// soon a release build gets there is bench_x11's business.
bool showsWithinPolls(const std::function<bool()>& shows, std::chrono::seconds limit = 15s) {
    return pumpUntil(
        [&] {
            pumpFor(500ms);
            return shows();
        },
        limit);
}

TEST_F(X11PasteboardTest, StormsNeverKeepTheNextCopyWaiting) {
    // An owner that takes and drops the clipboard without text...
    owner("flap", "2000");
    xclipCopy("after the flapping");
    EXPECT_TRUE(showsWithinPolls([&] { return holds("after the flapping"); }));

    // ...and one that floods it with texts.
    owner("flood", "2000");
    xclipCopy("after the flood");
    EXPECT_TRUE(showsWithinPolls([&] { return holds("after the flood"); }));
}

TEST_F(X11PasteboardTest, WritesEitherWayKeepTheirBytesAndAreCountedOnce) {
    const std::string text = "mixed \xff\xc3 bytes, a NUL \0 and caf\xc3\xa9"s;
    std::int64_t before = board->changeCount();
    EXPECT_TRUE(board->setString(Text(text)));
    EXPECT_EQ(board->changeCount(), before + 1);
    EXPECT_TRUE(holds(text));
    EXPECT_EQ(paste(), bytes(text));
    EXPECT_EQ(paste({"-t", "text/plain;charset=utf-8"}), bytes(text));
    // Not valid UTF-8, so not ISO 8859-1 either.
    EXPECT_TRUE(paste({"-t", "STRING"}).isEmpty());
    pumpFor(300ms);
    EXPECT_EQ(board->changeCount(), before + 1);
    EXPECT_TRUE(holds(text));

    // ISO 8859-1 is offered when the text fits it.
    board->setString(Text("caf\xc3\xa9"));
    EXPECT_EQ(paste({"-t", "STRING"}), QByteArray("caf\xe9"));

    // Another program's copy replaces ours, is taken byte for byte and
    // counted once.
    const std::string theirs = "  line one\r\n\xff\xfe half \xe2\x82 and a NUL \0 e\xcc\x81 \n"s;
    before = board->changeCount();
    xclipCopy(bytes(theirs));
    ASSERT_TRUE(waitForText(theirs));
    pumpFor(300ms);
    EXPECT_EQ(board->changeCount(), before + 1);

    // Our own write drops the copies still waiting for the polls, and one
    // read but not yet handed over to the GUI thread.
    xclipCopy("waiting one");
    pumpFor(300ms);
    owner("normal", "waiting two");
    std::this_thread::sleep_for(300ms);
    board->setString(Text("ours"));
    before = board->changeCount();
    pumpFor(300ms);
    EXPECT_EQ(board->changeCount(), before);
    EXPECT_TRUE(holds("ours"));
}

TEST_F(X11PasteboardTest, KeepsTheTextOfAProgramThatEndsUnlessAnotherManagerRuns) {
    // As the clipboard manager, we answer a Qt program that ends and asks us
    // to save its text, and serve that text once it has gone.
    QProcess& copier = start(BRIMLET_QT_COPIER, {"kept after its program ended"});
    ASSERT_TRUE(pumpUntil([&] { return copier.state() == QProcess::NotRunning; }, 10s));
    EXPECT_EQ(copier.exitCode(), 0);
    EXPECT_FALSE(copier.readAllStandardError().contains("clipboard manager"))
        << "the program waited in vain for its text to be saved";
    ASSERT_TRUE(waitForText("kept after its program ended"));
    const std::int64_t count = board->changeCount();
    EXPECT_EQ(paste(), "kept after its program ended");
    pumpFor(300ms);
    EXPECT_EQ(board->changeCount(), count) << "keeping the text counted as a change";

    // A password is never kept: it was never read.
    QProcess& secret = owner("secret", "hunter2", {"1"});
    pumpFor(300ms);
    secret.kill();
    secret.waitForFinished(2000);
    pumpFor(300ms);
    EXPECT_TRUE(paste().isEmpty());

    // Where another clipboard manager runs, from before our start or taking
    // over from us, we leave its selection alone; once it has gone, we are
    // the manager again.
    for (const bool beforeUs : {true, false}) {
        if (beforeUs) {
            board.reset();
        }
        QProcess& manager = owner("manager", "other");
        if (beforeUs) {
            open();
        }
        pumpFor(300ms);
        EXPECT_EQ(manager.state(), QProcess::Running) << "we took CLIPBOARD_MANAGER from another";
        manager.kill();
        manager.waitForFinished(2000);
        pumpFor(300ms);
        const QString text = beforeUs ? "kept after the other manager" : "kept after it again";
        QProcess& later = start(BRIMLET_QT_COPIER, {text});
        ASSERT_TRUE(pumpUntil([&] { return later.state() == QProcess::NotRunning; }, 10s));
        EXPECT_TRUE(waitForText(text.toStdString()));
        EXPECT_EQ(paste(), text.toUtf8()) << "the text was not kept once the other manager left";
    }
}

}  // namespace
}  // namespace brimlet::platform

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    brimlet::platform::gHasDisplay = brimlet::testing::useTestDisplay();
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
