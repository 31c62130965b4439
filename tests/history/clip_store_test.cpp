#include "history/clip_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/fake/fake_pasteboard.h"
#include "platform/fake/fake_scheduling.h"

namespace brimlet {
namespace {

using platform::FakeMainExecutor;
using platform::FakePasteboard;
using platform::FakeTimerScheduler;

class ClipStoreTest : public ::testing::Test {
  protected:
    ClipStoreTest() { recreate(); }

    void recreate() {
        store = ClipStore::make({
            .generalPasteboard = [this]() -> platform::Pasteboard& { return board; },
            .timers = &timers,
            .mainExecutor = &executor,
        });
        subscription = store->objectWillChange().subscribe([this] {
            ++notifications;
            sizesSeen.push_back(store->items().size());
        });
    }

    // One timer period passes and the queued checks run.
    void poll() {
        timers.tick();
        executor.runAll();
    }

    // Another program copies `text`; the next poll takes it.
    void copy(const std::string& text) {
        board.copyFromOtherApp(Text(text));
        poll();
    }

    void fill(int count) {
        for (int i = 0; i < count; ++i) {
            copy("entry " + std::to_string(i));
        }
    }

    [[nodiscard]] std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const auto& item : store->items()) {
            out.emplace_back(item.text.bytes());
        }
        return out;
    }

    void resetCounters() {
        notifications = 0;
        sizesSeen.clear();
        board.stringReads = 0;
    }

    FakePasteboard board;
    FakeTimerScheduler timers;
    FakeMainExecutor executor;
    std::shared_ptr<ClipStore> store;
    platform::WillChangePublisher::Subscription subscription;
    int notifications = 0;
    std::vector<std::size_t> sizesSeen;
};

TEST_F(ClipStoreTest, CreationRecordsTheCounterAndReadsNothingElse) {
    board.copyFromOtherApp("already there");
    recreate();
    EXPECT_TRUE(store->items().empty());
    EXPECT_EQ(board.stringReads, 0);
    EXPECT_EQ(timers.timerCount(), 0U);
    // The creation-time count is the baseline: no change means no capture.
    poll();
    EXPECT_TRUE(store->items().empty());
}

TEST_F(ClipStoreTest, IgnoresMissingEmptyAndBlankTextsSilently) {
    store->start();
    resetCounters();
    board.copyNonTextFromOtherApp();
    poll();
    for (const char* blank : {"", "   ", "\t\n\r\v\f", "\u0085", "\u2028\u2029", "\u3000",
                              "\u00a0 \u00a0", " \n \u202f\u205f "}) {
        copy(blank);
    }
    EXPECT_TRUE(store->items().empty());
    EXPECT_EQ(notifications, 0);
}

TEST_F(ClipStoreTest, FormatCharactersAndNulAreNotBlank) {
    store->start();
    copy("\u200b");
    copy(std::string("\0", 1));
    copy("\ufeff");
    EXPECT_EQ(texts(), (std::vector<std::string>{"\ufeff", std::string("\0", 1), "\u200b"}));
}

TEST_F(ClipStoreTest, KeepsSurroundingBlanksAsPartOfTheText) {
    store->start();
    copy("word");
    copy("  word\n");
    EXPECT_EQ(texts(), (std::vector<std::string>{"  word\n", "word"}));
}

TEST_F(ClipStoreTest, SameTextAsNewestChangesNothing) {
    store->start();
    copy("alpha");
    const Uuid id = store->items().front().id;
    resetCounters();
    copy("alpha");
    copy("\u00e9t\u00e9");
    const Uuid eteId = store->items().front().id;
    resetCounters();
    // The decomposed spelling is the same text.
    copy("e\u0301te\u0301");
    ASSERT_EQ(store->items().size(), 2U);
    EXPECT_EQ(store->items().front().id, eteId);
    EXPECT_EQ(store->items().front().text.bytes(), "\u00e9t\u00e9");
    EXPECT_EQ(store->items()[1].id, id);
    EXPECT_EQ(notifications, 0);
}

TEST_F(ClipStoreTest, RecopiedOlderTextMovesUpUnderANewIdentity) {
    store->start();
    fill(10);
    const auto before = store->items();
    resetCounters();
    copy("entry 6");  // index 3
    ASSERT_EQ(store->items().size(), 10U);
    EXPECT_EQ(store->items().front().text.bytes(), "entry 6");
    EXPECT_NE(store->items().front().id, before[3].id);
    std::vector<ClipItem> rest(store->items().begin() + 1, store->items().end());
    std::vector<ClipItem> expected = before;
    expected.erase(expected.begin() + 3);
    EXPECT_EQ(rest, expected);
    EXPECT_EQ(notifications, 2);
}

TEST_F(ClipStoreTest, CanonicallyEqualOlderTextIsReplacedByTheNewSpelling) {
    store->start();
    copy("cafe\u0301");
    copy("other");
    copy("caf\u00e9");
    EXPECT_EQ(texts(), (std::vector<std::string>{"caf\u00e9", "other"}));
}

TEST_F(ClipStoreTest, CapsTheHistoryAtFiftyDroppingTheOldest) {
    store->start();
    fill(49);
    resetCounters();
    copy("fiftieth");
    EXPECT_EQ(store->items().size(), 50U);
    EXPECT_EQ(notifications, 2);

    resetCounters();
    copy("fifty-first");
    ASSERT_EQ(store->items().size(), kHistoryCapacity);
    EXPECT_EQ(notifications, 3);
    EXPECT_EQ(store->items().front().text.bytes(), "fifty-first");
    EXPECT_EQ(store->items().back().text.bytes(), "entry 1");  // "entry 0" fell off

    resetCounters();
    copy("entry 20");
    EXPECT_EQ(store->items().size(), kHistoryCapacity);
    EXPECT_EQ(store->items().back().text.bytes(), "entry 1");
    EXPECT_EQ(notifications, 2);
}

TEST_F(ClipStoreTest, ObserversHearBeforeEachStepAndSeeTheOldState) {
    store->start();
    fill(50);
    resetCounters();
    copy("new");
    // Removal (nothing matched), insertion, trim: each announced beforehand.
    EXPECT_EQ(sizesSeen, (std::vector<std::size_t>{50, 50, 51}));
}

TEST_F(ClipStoreTest, CopyBackPutsTheTextBackAndMovesTheSameEntryUp) {
    store->start();
    fill(8);
    const auto before = store->items();
    resetCounters();
    board.clears = 0;
    store->copyBack(before[4]);

    ASSERT_TRUE(board.contents().has_value());
    EXPECT_EQ(board.contents()->bytes(), before[4].text.bytes());
    EXPECT_EQ(board.clears, 1);
    std::vector<ClipItem> expected = before;
    expected.erase(expected.begin() + 4);
    expected.insert(expected.begin(), before[4]);
    EXPECT_EQ(store->items(), expected);
    EXPECT_EQ(notifications, 2);

    // Our own write is not captured again.
    resetCounters();
    poll();
    poll();
    EXPECT_EQ(board.stringReads, 0);
    EXPECT_EQ(store->items(), expected);
}

TEST_F(ClipStoreTest, CopyBackOfTheNewestStillRewritesAndAnnounces) {
    store->start();
    fill(3);
    const auto before = store->items();
    resetCounters();
    board.writes = 0;
    store->copyBack(before.front());
    EXPECT_EQ(store->items(), before);
    EXPECT_EQ(board.writes, 1);
    EXPECT_EQ(notifications, 2);
}

TEST_F(ClipStoreTest, CopyBackOfAnEntryNoLongerListedComesBackOnTop) {
    store->start();
    fill(50);
    const ClipItem kept = store->items()[10];
    store->copyBack(store->items()[10]);
    store->setItems({});
    store->copyBack(kept);
    EXPECT_EQ(store->items(), std::vector<ClipItem>{kept});

    // A full list grows to 51 until the next accepted capture trims it.
    fill(50);
    const ClipItem outsider{Uuid::random(), Text("entry 3")};
    store->copyBack(outsider);
    EXPECT_EQ(store->items().size(), 51U);
    // Same text under another identity: copy-back removes by identity only.
    EXPECT_EQ(std::count_if(store->items().begin(), store->items().end(),
                            [](const ClipItem& i) { return i.text.bytes() == "entry 3"; }),
              2);
    copy("trim me");
    EXPECT_EQ(store->items().size(), 50U);
}

TEST_F(ClipStoreTest, RefusedWriteStillReordersAndIsNotRecaptured) {
    store->start();
    fill(3);
    const auto before = store->items();
    board.refuseWrites = true;
    store->copyBack(before[2]);
    EXPECT_EQ(store->items().front(), before[2]);
    resetCounters();
    poll();
    EXPECT_EQ(board.stringReads, 0);
}

TEST_F(ClipStoreTest, ClearAnnouncesOnceAndLeavesTheClipboardAlone) {
    store->start();
    fill(5);
    resetCounters();
    board.clears = 0;
    board.writes = 0;
    store->setItems({});
    EXPECT_EQ(notifications, 1);
    EXPECT_EQ(board.clears + board.writes, 0);
    // The text still on the clipboard stays out until the clipboard changes.
    poll();
    EXPECT_TRUE(store->items().empty());
    copy("entry 4");
    EXPECT_EQ(texts(), std::vector<std::string>{"entry 4"});
}

TEST_F(ClipStoreTest, StartCapturesAtOnceAndOnlyOnce) {
    board.copyFromOtherApp("on the clipboard at launch");
    recreate();
    store->start();
    EXPECT_EQ(texts(), std::vector<std::string>{"on the clipboard at launch"});
    store->start();
    EXPECT_EQ(timers.timerCount(), 1U);
    EXPECT_EQ(timers.timers().front()->interval(), kPollPeriod);
    EXPECT_EQ(store->items().size(), 1U);
}

TEST_F(ClipStoreTest, ChangeBeforeStartIsCapturedOnceThoughTheFirstCheckSeesIt) {
    board.copyFromOtherApp("late");
    store->start();
    const Uuid id = store->items().front().id;
    resetCounters();
    poll();
    EXPECT_EQ(board.stringReads, 1);
    ASSERT_EQ(store->items().size(), 1U);
    EXPECT_EQ(store->items().front().id, id);
    EXPECT_EQ(notifications, 0);
}

TEST_F(ClipStoreTest, TicksQueueTheCheckAndIdleTicksReadNoContent) {
    store->start();
    resetCounters();
    board.copyFromOtherApp("queued");
    timers.tick();
    EXPECT_EQ(executor.pending(), 1U);
    EXPECT_TRUE(store->items().empty());
    executor.runAll();
    EXPECT_EQ(texts(), std::vector<std::string>{"queued"});

    resetCounters();
    for (int i = 0; i < 20; ++i) {
        poll();
    }
    EXPECT_EQ(board.stringReads, 0);
    EXPECT_EQ(notifications, 0);
}

TEST_F(ClipStoreTest, SeveralCopiesWithinOnePeriodYieldTheLastOne) {
    store->start();
    board.copyFromOtherApp("first");
    board.copyFromOtherApp("second");
    // Two checks queued behind a busy GUI thread: only one capture.
    timers.tick();
    timers.tick();
    resetCounters();
    executor.runAll();
    EXPECT_EQ(texts(), std::vector<std::string>{"second"});
    EXPECT_EQ(board.stringReads, 1);
}

TEST_F(ClipStoreTest, RejectedContentIsConsumedAndAnyCounterMoveCounts) {
    store->start();
    board.copyNonTextFromOtherApp();
    poll();
    resetCounters();
    poll();
    EXPECT_EQ(board.stringReads, 0);

    board.copyFromOtherApp("up");
    board.setChangeCount(5);  // counters may run backwards
    poll();
    EXPECT_EQ(texts(), std::vector<std::string>{"up"});
}

TEST_F(ClipStoreTest, ChecksAfterTheStoreIsGoneDoNothing) {
    store->start();
    timers.tick();  // a check already queued
    subscription.cancel();
    store.reset();
    board.copyFromOtherApp("nobody listens");
    board.counterReads = 0;
    board.stringReads = 0;
    timers.tick();
    executor.runAll();
    EXPECT_EQ(board.counterReads, 0);
    EXPECT_EQ(board.stringReads, 0);
}

TEST_F(ClipStoreTest, KeepsAndWritesBackTheExactBytes) {
    store->start();
    const std::string invalidA = "bad \xff\xfe bytes";
    const std::string invalidB = "bad \xc3\x28 bytes";
    const std::string withNul("nul\0inside", 10);
    copy(invalidA);
    copy(invalidB);
    copy(withNul);
    // Distinct malformed texts stay distinct; nothing is repaired.
    EXPECT_EQ(texts(), (std::vector<std::string>{withNul, invalidB, invalidA}));
    store->copyBack(store->items()[2]);
    EXPECT_EQ(board.contents()->bytes(), invalidA);
    store->copyBack(store->items()[1]);
    EXPECT_EQ(board.contents()->bytes(), withNul);
}

TEST_F(ClipStoreTest, HugeTextsAreSharedNotCopied) {
    store->start();
    const Text huge(std::string(20U << 20U, 'x'));
    board.copyFromOtherApp(huge);
    poll();
    ASSERT_EQ(store->items().size(), 1U);
    EXPECT_TRUE(store->items().front().text.sharesStorageWith(huge));
    const ClipItem copyOfEntry = store->items().front();
    EXPECT_TRUE(copyOfEntry.text.sharesStorageWith(huge));
    store->copyBack(copyOfEntry);
    EXPECT_TRUE(board.contents()->sharesStorageWith(huge));
}

}  // namespace
}  // namespace brimlet
