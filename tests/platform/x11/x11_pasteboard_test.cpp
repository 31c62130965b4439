// The X11 clipboard adapter against a real X server, with xclip and a
// scripted owner (brimlet_clip_owner) on the other side.
#include "platform/x11/x11_pasteboard.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include "clip_pattern.h"
#include "history/clip_store.h"
#include "platform/qt/qt_scheduling.h"
#include "support/event_loop.h"
#include "x11_test_support.h"

namespace brimlet::platform {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using x11test::clipPattern;
using x11test::Programs;
using x11test::pumpFor;
using x11test::pumpUntil;
using Clock = std::chrono::steady_clock;

bool gHasDisplay = false;

QByteArray bytes(std::string_view text) {
    return {text.data(), static_cast<qsizetype>(text.size())};
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class X11PasteboardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!gHasDisplay) {
            GTEST_SKIP() << "needs an X display: set BRIMLET_TEST_DISPLAY (tools/test-all "
                            "starts a private Xvfb); never run against a desktop's clipboard";
        }
        open();
    }

    void TearDown() override {
        programs.killAll();
        board.reset();
    }

    void open(x11::SelectionLimits limits = {}) {
        board = X11Pasteboard::open(nullptr, limits);
        ASSERT_NE(board, nullptr) << "cannot reach the display or it lacks XFixes";
        // Whatever an earlier test left behind is read first.
        pumpFor(150ms);
    }

    // Another program copies `text` and keeps serving it.
    QProcess& xclipCopy(const QByteArray& text) {
        return programs.start("xclip", {"-selection", "clipboard", "-quiet"}, text);
    }

    // Our scripted owner takes the clipboard; returns once it owns it.
    QProcess& owner(const QString& mode, const QString& argument) {
        QProcess& process = programs.start(BRIMLET_CLIP_OWNER, {mode, argument});
        EXPECT_TRUE(pumpUntil([&] { return process.canReadLine(); }, 5s))
            << "brimlet_clip_owner did not take the clipboard";
        return process;
    }

    // What another program pastes; `ok` is false when it got nothing.
    QByteArray paste(const QStringList& extra = {}, bool* ok = nullptr) {
        QStringList arguments{"-o", "-selection", "clipboard"};
        arguments += extra;
        QProcess& process = programs.start("xclip", arguments);
        const bool finished =
            pumpUntil([&] { return process.state() == QProcess::NotRunning; }, 20s);
        if (ok != nullptr) {
            *ok =
                finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        }
        return process.readAllStandardOutput();
    }

    // The targets another program is offered, one name a line.
    QByteArrayList targets() {
        QByteArrayList names = paste({"-t", "TARGETS"}).split('\n');
        names.removeAll(QByteArray());
        return names;
    }

    // Reads the way a poll does: the counter first, then the text.
    [[nodiscard]] bool holds(std::string_view text) const {
        (void)board->changeCount();
        const std::optional<Text> current = board->string();
        return current && current->bytes() == text;
    }

    bool waitForText(std::string_view text, std::chrono::milliseconds timeout = 5s) {
        return pumpUntil([&] { return holds(text); }, timeout);
    }

    bool waitForChange(std::int64_t from, std::chrono::milliseconds timeout = 5s) {
        return pumpUntil([&] { return board->changeCount() != from; }, timeout);
    }

    Programs programs;
    std::unique_ptr<X11Pasteboard> board;
};

TEST_F(X11PasteboardTest, CapturesAnExternalCopyOncePromptly) {
    const std::int64_t before = board->changeCount();
    const auto start = Clock::now();
    xclipCopy("copied by xclip");
    ASSERT_TRUE(waitForText("copied by xclip"));
    std::cout << "[ measure  ] xclip start to snapshot: " << millisecondsSince(start) << " ms\n";
    pumpFor(300ms);
    EXPECT_EQ(board->changeCount(), before + 1);
}

TEST_F(X11PasteboardTest, KeepsTheExactBytesOfAnExternalCopy) {
    const std::string text = "  line one\r\n\xff\xfe half \xe2\x82 and a NUL \0 e\xcc\x81 \n"s;
    xclipCopy(bytes(text));
    EXPECT_TRUE(waitForText(text));
}

TEST_F(X11PasteboardTest, CapturesLargeTextsWhole) {
    // xclip sends this much incrementally.
    const std::string big = clipPattern(20u << 20);
    std::int64_t before = board->changeCount();
    const auto start = Clock::now();
    xclipCopy(bytes(big));
    ASSERT_TRUE(waitForChange(before, 30s));
    std::cout << "[ measure  ] 20 MB xclip start to snapshot: " << millisecondsSince(start)
              << " ms\n";
    ASSERT_TRUE(board->string().has_value());
    EXPECT_EQ(board->string()->size(), big.size());
    EXPECT_TRUE(holds(big));

    // Many small chunks from an owner of our own.
    before = board->changeCount();
    owner("large", QString::number(3u << 20));
    ASSERT_TRUE(waitForChange(before, 30s));
    EXPECT_TRUE(holds(clipPattern(3u << 20)));
}

TEST_F(X11PasteboardTest, TooLargeTextCountsAsContentsWithoutText) {
    open({.maxTextBytes = 1u << 20});
    std::int64_t before = board->changeCount();
    owner("large", QString::number(2u << 20));
    ASSERT_TRUE(waitForChange(before));
    EXPECT_FALSE(board->string().has_value());

    before = board->changeCount();
    owner("large", QString::number(512u << 10));
    ASSERT_TRUE(waitForChange(before));
    EXPECT_TRUE(holds(clipPattern(512u << 10)));
}

TEST_F(X11PasteboardTest, HungOwnerBlocksNothingAndIsOvertakenByTheNextCopy) {
    // Long enough that only dropping the stale reading lets the next copy in.
    open({.requestTimeout = 60s, .fetchTimeout = 60s});
    int ticks = 0;
    double longestGap = 0;
    auto last = Clock::now();
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, millisecondsSince(last));
        last = Clock::now();
        ++ticks;
    });
    timer.start(10);

    const std::int64_t before = board->changeCount();
    owner("hung", "never handed over");
    double slowestCall = 0;
    for (int i = 0; i < 50; ++i) {
        const auto start = Clock::now();
        EXPECT_FALSE(board->string().has_value());
        EXPECT_EQ(board->changeCount(), before);
        slowestCall = std::max(slowestCall, millisecondsSince(start));
        pumpFor(10ms);
    }
    EXPECT_GT(ticks, 10) << "the GUI thread's event loop stalled";

    xclipCopy("after the hung owner");
    EXPECT_TRUE(waitForText("after the hung owner", 10s));
    std::cout << "[ measure  ] hung owner: slowest string()/changeCount() " << slowestCall
              << " ms, longest GUI timer gap " << longestGap << " ms over " << ticks << " ticks\n";
}

TEST_F(X11PasteboardTest, HungOwnerTimesOutWithoutTextAndIsNotAskedAgain) {
    open({.requestTimeout = 300ms});
    std::int64_t before = board->changeCount();
    owner("hung", "never handed over");
    ASSERT_TRUE(waitForChange(before));
    EXPECT_FALSE(board->string().has_value());
    before = board->changeCount();
    pumpFor(1000ms);
    EXPECT_EQ(board->changeCount(), before);

    owner("normal", "a later copy");
    EXPECT_TRUE(waitForText("a later copy"));
}

TEST_F(X11PasteboardTest, PasswordHintHidesTheText) {
    std::int64_t before = board->changeCount();
    owner("secret", "hunter2");
    ASSERT_TRUE(waitForChange(before));
    EXPECT_FALSE(board->string().has_value());
    pumpFor(300ms);
    EXPECT_FALSE(board->string().has_value());

    // The same text without the hint is an ordinary copy.
    before = board->changeCount();
    owner("normal", "hunter2");
    ASSERT_TRUE(waitForChange(before));
    EXPECT_TRUE(holds("hunter2"));
}

TEST_F(X11PasteboardTest, OwnWriteIsServedByteForByteAndNotCountedAgain) {
    const std::string text = "mixed \xff\xc3 bytes, a NUL \0 and caf\xc3\xa9"s;
    const std::int64_t before = board->changeCount();
    EXPECT_TRUE(board->setString(Text(text)));
    EXPECT_EQ(board->changeCount(), before + 1);
    EXPECT_TRUE(holds(text));

    bool ok = false;
    EXPECT_EQ(paste({}, &ok), bytes(text));
    EXPECT_TRUE(ok);
    const QByteArrayList offered = targets();
    EXPECT_TRUE(offered.contains("UTF8_STRING"));
    EXPECT_TRUE(offered.contains("text/plain;charset=utf-8"));
    EXPECT_EQ(paste({"-t", "text/plain;charset=utf-8"}), bytes(text));
    // Not valid UTF-8, so not ISO 8859-1 either.
    paste({"-t", "STRING"}, &ok);
    EXPECT_FALSE(ok);

    pumpFor(300ms);
    EXPECT_EQ(board->changeCount(), before + 1);
    EXPECT_TRUE(holds(text));
}

TEST_F(X11PasteboardTest, OwnWriteOffersIso88591WhenItFits) {
    board->setString(Text("caf\xc3\xa9"));
    EXPECT_EQ(paste({"-t", "STRING"}), QByteArray("caf\xe9"));
    EXPECT_EQ(paste(), QByteArray("caf\xc3\xa9"));

    board->setString(Text("\xe2\x82\xac 5"));  // the euro sign is not in ISO 8859-1
    EXPECT_TRUE(targets().contains("UTF8_STRING"));
    EXPECT_FALSE(targets().contains("STRING"));
    bool ok = true;
    paste({"-t", "STRING"}, &ok);
    EXPECT_FALSE(ok);
}

TEST_F(X11PasteboardTest, OwnLargeWriteIsServedIncrementally) {
    const std::string big = clipPattern(20u << 20);
    const std::int64_t before = board->changeCount();
    board->setString(Text(big));
    const auto start = Clock::now();
    const QByteArray pasted = paste();
    std::cout << "[ measure  ] 20 MB served to xclip -o in " << millisecondsSince(start) << " ms\n";
    EXPECT_EQ(pasted.size(), static_cast<qsizetype>(big.size()));
    EXPECT_TRUE(pasted == bytes(big));
    pumpFor(300ms);
    EXPECT_EQ(board->changeCount(), before + 1);
}

TEST_F(X11PasteboardTest, ClearingLeavesNoText) {
    board->setString(Text("about to go"));
    const std::int64_t cleared = board->clearContents();
    EXPECT_EQ(cleared, board->changeCount());
    EXPECT_FALSE(board->string().has_value());

    bool ok = true;
    EXPECT_TRUE(paste({}, &ok).isEmpty());
    EXPECT_FALSE(ok);
    EXPECT_EQ(targets(), QByteArrayList({"TARGETS", "TIMESTAMP"}));
    pumpFor(300ms);
    EXPECT_EQ(board->changeCount(), cleared);
}

TEST_F(X11PasteboardTest, ExternalCopyReplacesOwnWriteAndBack) {
    board->setString(Text("ours"));
    std::int64_t before = board->changeCount();
    xclipCopy("theirs");
    ASSERT_TRUE(waitForText("theirs"));
    EXPECT_EQ(board->changeCount(), before + 1);

    board->setString(Text("ours again"));
    EXPECT_EQ(paste(), QByteArray("ours again"));
    before = board->changeCount();
    pumpFor(300ms);
    EXPECT_EQ(board->changeCount(), before);
}

TEST_F(X11PasteboardTest, CopiesFasterThanThePollsWaitTheirTurnInOrder) {
    std::vector<std::string> copied;
    for (int i = 0; i < 10; ++i) {
        copied.push_back("quick copy " + std::to_string(i));
        xclipCopy(bytes(copied.back()));
        pumpFor(100ms);  // nobody reads the counter meanwhile
    }
    pumpFor(300ms);
    std::vector<std::string> seen;
    std::int64_t last = board->changeCount();
    if (board->string()) {
        seen.emplace_back(board->string()->bytes());
    }
    for (int poll = 0; poll < 20; ++poll) {
        const std::int64_t count = board->changeCount();
        if (count != last && board->string()) {
            seen.emplace_back(board->string()->bytes());
        }
        last = count;
    }
    // Whatever was current before the series may lead; the ten follow in order.
    ASSERT_GE(seen.size(), copied.size());
    EXPECT_EQ(std::vector<std::string>(seen.end() - static_cast<std::ptrdiff_t>(copied.size()),
                                       seen.end()),
              copied);
}

TEST_F(X11PasteboardTest, OwnWriteDropsCopiesStillWaiting) {
    xclipCopy("waiting one");
    xclipCopy("waiting two");
    pumpFor(300ms);
    board->setString(Text("ours"));
    const std::int64_t after = board->changeCount();
    pumpFor(300ms);
    EXPECT_EQ(board->changeCount(), after);
    EXPECT_EQ(board->string()->bytes(), "ours");
}

TEST_F(X11PasteboardTest, EveryCopyOfARapidSeriesIsCounted) {
    const std::int64_t before = board->changeCount();
    std::int64_t last = before;
    for (int i = 0; i < 10; ++i) {
        const auto start = Clock::now();
        const std::string text = "copy number " + std::to_string(i);
        xclipCopy(bytes(text));
        ASSERT_TRUE(waitForText(text)) << text;
        EXPECT_NE(board->changeCount(), last);
        last = board->changeCount();
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        const std::chrono::milliseconds interval(100);
        if (spent < interval) {
            pumpFor(interval - spent);
        }
    }
    pumpFor(300ms);
    EXPECT_EQ(board->changeCount(), before + 10);
}

TEST_F(X11PasteboardTest, OwnerThatQuitsLeavesNoText) {
    QProcess& xclip = xclipCopy("short-lived");
    ASSERT_TRUE(waitForText("short-lived"));
    const std::int64_t before = board->changeCount();
    Programs::kill(xclip);
    ASSERT_TRUE(waitForChange(before));
    EXPECT_FALSE(board->string().has_value());

    xclipCopy("next one");
    EXPECT_TRUE(waitForText("next one"));
}

TEST_F(X11PasteboardTest, ReadsWhatIsOnTheClipboardAtStart) {
    board.reset();
    owner("normal", "there before us");
    open();
    EXPECT_TRUE(waitForText("there before us"));
}

TEST_F(X11PasteboardTest, ComesAndGoesCleanlyEvenWhileAnOwnerHangs) {
    board.reset();
    for (int i = 0; i < 10; ++i) {
        QProcess& hung = owner("hung", "never handed over");
        const auto start = Clock::now();
        // Torn down in the middle of asking the hung owner.
        auto reader = X11Pasteboard::open(nullptr);
        ASSERT_NE(reader, nullptr);
        if (i % 2 == 0) {
            reader->setString(Text("round " + std::to_string(i)));
        }
        pumpFor(20ms);
        reader.reset();
        EXPECT_LT(millisecondsSince(start), 5000.0);
        Programs::kill(hung);
    }
}

// The store polling the real clipboard through this adapter.
TEST_F(X11PasteboardTest, StoreCapturesAndCopiesBackWithoutRecapturing) {
    QtTimerScheduler timers;
    QtMainExecutor executor;
    auto store = ClipStore::make({
        .generalPasteboard = [this]() -> Pasteboard& { return *board; },
        .timers = &timers,
        .mainExecutor = &executor,
    });
    store->start();
    const auto newestIs = [&](std::string_view text) {
        return !store->items().empty() && store->items().front().text.bytes() == text;
    };
    xclipCopy("first");
    ASSERT_TRUE(pumpUntil([&] { return newestIs("first"); }, 5s));
    xclipCopy("second");
    ASSERT_TRUE(pumpUntil([&] { return newestIs("second"); }, 5s));

    const ClipItem older = store->items()[1];
    store->copyBack(older);
    EXPECT_EQ(paste(), QByteArray("first"));
    const auto after = store->items();
    pumpFor(1200ms);
    EXPECT_EQ(store->items(), after);
    EXPECT_EQ(store->items().front().id, older.id);
}

}  // namespace
}  // namespace brimlet::platform

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    brimlet::platform::gHasDisplay = brimlet::testing::useTestDisplay();
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
