#include "history/clip_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/fakes/fake_pasteboard.h"
#include "platform/fakes/fake_scheduling.h"

namespace brimlet {
namespace {

using Texts = std::vector<std::string>;

class ClipStoreTest : public ::testing::Test {
  protected:
    ClipStoreTest() {
        recreate();
        store->start();
        resetCounters();
    }

    void recreate() {
        store = ClipStore::make({
            .generalPasteboard = [this]() -> platform::Pasteboard& { return board; },
            .timers = &timers,
            .mainExecutor = &executor,
        });
        subscription = store->objectWillChange().subscribe(
            [this] { sizesSeen.push_back(store->items().size()); });
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
    [[nodiscard]] Texts texts() const {
        Texts out;
        for (const auto& item : store->items()) {
            out.emplace_back(item.text.bytes());
        }
        return out;
    }
    void resetCounters() {
        sizesSeen.clear();
        board.stringReads = 0;
        board.clears = 0;
        board.writes = 0;
    }

    platform::FakePasteboard board;
    platform::FakeTimerScheduler timers;
    platform::FakeMainExecutor executor;
    std::shared_ptr<ClipStore> store;
    platform::WillChangePublisher::Subscription subscription;
    std::vector<std::size_t> sizesSeen;  // one per announcement, before the step
};

TEST_F(ClipStoreTest, SkipsMissingBlankAndNewestTextsAndDedupesByCanonicalEquivalence) {
    board.copyNonTextFromOtherApp();
    poll();
    for (const char* blank : {"", " \t\n\r", "\u00a0\u2028\u3000", " \n \u202f\u205f "}) {
        copy(blank);
    }
    EXPECT_TRUE(store->items().empty());
    EXPECT_EQ(sizesSeen.size(), 0U);

    // Format characters are not blank, and surrounding blanks stay.
    copy("\u200b");
    copy("  word\n");
    // The newest text again, in any canonically equal spelling: no change.
    copy("\u00e9t\u00e9");
    const auto before = store->items();
    resetCounters();
    copy("\u00e9t\u00e9");
    copy("e\u0301te\u0301");
    EXPECT_EQ(store->items(), before);
    EXPECT_EQ(sizesSeen.size(), 0U);

    // An older one moves up, under a new identity and in the new spelling.
    copy("cafe\u0301");
    copy("\u00e9t\u00e9");
    copy("caf\u00e9");
    EXPECT_EQ(texts(), (Texts{"caf\u00e9", "\u00e9t\u00e9", "  word\n", "\u200b"}));
    EXPECT_NE(store->items()[1].id, before.front().id);
}

TEST_F(ClipStoreTest, CapsTheHistoryAtFiftyAnnouncingEachStepBeforehand) {
    fill(50);
    resetCounters();
    copy("fifty-first");
    ASSERT_EQ(store->items().size(), kHistoryCapacity);
    // Removal (nothing matched), insertion, trim; observers see the old state.
    EXPECT_EQ(sizesSeen, (std::vector<std::size_t>{50, 50, 51}));
    EXPECT_EQ(store->items().front().text.bytes(), "fifty-first");
    EXPECT_EQ(store->items().back().text.bytes(), "entry 1");  // "entry 0" fell off
}

TEST_F(ClipStoreTest, BoundsTheTextSizeOldestFirstAlwaysKeepingTheNewest) {
    // Three texts of two fifths of the budget each: the third pushes out the
    // oldest, whatever their number, in one trimming step.
    const std::size_t large = kHistoryTextBudget / 5 * 2;
    copy("small");
    copy(std::string(large, 'a'));
    copy(std::string(large, 'b'));
    resetCounters();
    copy(std::string(large, 'c'));
    ASSERT_EQ(store->items().size(), 2U);
    EXPECT_EQ(store->items()[0].text.bytes().front(), 'c');
    EXPECT_EQ(store->items()[1].text.bytes().front(), 'b');
    EXPECT_EQ(sizesSeen, (std::vector<std::size_t>{3, 3, 4}));
}

TEST_F(ClipStoreTest, CopyBackWritesTheTextAsIsAndMovesTheSameEntryUpWithoutRecapture) {
    fill(8);
    const auto before = store->items();
    resetCounters();
    store->copyBack(before[4]);
    EXPECT_EQ(board.contents()->bytes(), before[4].text.bytes());
    EXPECT_EQ(board.clears, 1);
    auto expected = before;
    expected.erase(expected.begin() + 4);
    expected.insert(expected.begin(), before[4]);
    EXPECT_EQ(store->items(), expected);
    EXPECT_EQ(sizesSeen.size(), 2U);
    resetCounters();
    poll();
    poll();
    EXPECT_EQ(board.stringReads, 0);

    // A refused write still reorders and is not taken for a change.
    board.refuseWrites = true;
    store->copyBack(expected[2]);
    EXPECT_EQ(store->items().front(), expected[2]);
    resetCounters();
    poll();
    EXPECT_EQ(board.stringReads, 0);

    // Huge texts are shared on the way in and out, never copied.
    board.refuseWrites = false;
    const Text huge(std::string(20U << 20U, 'x'));
    board.copyFromOtherApp(huge);
    poll();
    EXPECT_TRUE(store->items().front().text.sharesStorageWith(huge));
    store->copyBack(store->items().front());
    EXPECT_TRUE(board.contents()->sharesStorageWith(huge));
}

// A letter under 90,000 marks of three classes once cost seconds per
// capture. Its keys are made once, with the text, and every later step
// compares them without making another: counted, not timed.
TEST_F(ClipStoreTest, MarkStacksAreCapturedOnceAndKeysAreNeverMadeAgain) {
    std::string marks;
    for (int i = 0; i < 30000; ++i) {
        marks += "\u0301\u0316\u0357";
    }
    std::vector<Text> stacks;
    for (const char* letter : {"a", "b", "c", "d", "e"}) {
        stacks.emplace_back(letter + marks);
    }
    const Text again(std::string(stacks.back().bytes()));
    const Text plain("plain");
    fill(kHistoryCapacity - 1);

    const std::uint64_t made = platform::text_detail::keysMade();
    for (const Text& stack : stacks) {
        board.copyFromOtherApp(stack);
        poll();
    }
    board.copyFromOtherApp(again);  // the newest again, in other storage
    poll();
    ASSERT_EQ(texts()[0], std::string(stacks.back().bytes()));
    ASSERT_EQ(texts()[5], "entry 48");
    board.copyFromOtherApp(plain);
    poll();
    EXPECT_EQ(store->items().size(), kHistoryCapacity);  // trimmed each time
    // Copy-back moves the same entry, keys and all.
    const std::string_view key = store->items()[3].text.equalityKey();
    store->copyBack(store->items()[3]);
    EXPECT_EQ(store->items().front().text.equalityKey().data(), key.data());
    EXPECT_TRUE(store->items().front().text.sharesStorageWith(stacks[2]));
    EXPECT_EQ(platform::text_detail::keysMade(), made);
}

TEST_F(ClipStoreTest, CreationRecordsTheCounterAndClearingLeavesTheClipboardAlone) {
    board.copyFromOtherApp("on the clipboard at launch");
    recreate();
    EXPECT_EQ(board.stringReads, 0);
    store->start();
    EXPECT_EQ(texts(), Texts{"on the clipboard at launch"});
    resetCounters();
    store->setItems({});
    EXPECT_EQ(sizesSeen.size(), 1U);
    EXPECT_EQ(board.clears + board.writes, 0);
    // Unchanged since creation, the text stays out until the clipboard changes.
    poll();
    EXPECT_TRUE(store->items().empty());
    copy("on the clipboard at launch");
    EXPECT_EQ(texts(), Texts{"on the clipboard at launch"});
}

TEST_F(ClipStoreTest, StartCapturesAtOnceAndOnlyOnce) {
    recreate();
    board.copyFromOtherApp("late");  // after creation, before start
    const std::size_t timersBefore = timers.timerCount();
    store->start();
    store->start();
    EXPECT_EQ(texts(), Texts{"late"});
    ASSERT_EQ(timers.timerCount(), timersBefore + 1);
    EXPECT_EQ(timers.timers().back()->interval(), kPollPeriod);
    // The first check sees that change too, reads it, and finds it newest.
    resetCounters();
    poll();
    EXPECT_EQ(board.stringReads, 1);
    EXPECT_EQ(sizesSeen.size(), 0U);
}

TEST_F(ClipStoreTest, ChecksRunQueuedAndReadOnlyAfterAnyCounterMove) {
    board.copyFromOtherApp("first");
    board.copyFromOtherApp("second");
    // Two ticks queue two checks behind a busy GUI thread: one capture.
    timers.tick();
    timers.tick();
    EXPECT_EQ(executor.pending(), 2U);
    EXPECT_TRUE(store->items().empty());
    executor.runAll();
    EXPECT_EQ(texts(), Texts{"second"});
    EXPECT_EQ(board.stringReads, 1);

    // Content without text is consumed too; idle ticks read no content.
    board.copyNonTextFromOtherApp();
    poll();
    resetCounters();
    for (int i = 0; i < 20; ++i) {
        poll();
    }
    EXPECT_EQ(board.stringReads, 0);

    board.copyFromOtherApp("up");
    board.setChangeCount(5);  // counters may run backwards
    poll();
    EXPECT_EQ(texts(), (Texts{"up", "second"}));
}

TEST_F(ClipStoreTest, PauseKeepsUpWithTheCounterButCapturesNothing) {
    copy("before");
    int pauseNotices = 0;
    auto pausing = store->pausedWillChange().subscribe([&] { ++pauseNotices; });
    store->setPaused(true);
    store->setPaused(true);
    EXPECT_EQ(pauseNotices, 1);
    resetCounters();
    copy("while paused");
    copy("also while paused");
    EXPECT_EQ(texts(), Texts{"before"});
    EXPECT_EQ(board.stringReads, 0) << "a paused store read the clipboard";
    // Copy-back and clearing still work.
    store->copyBack(store->items().front());
    EXPECT_EQ(board.string()->bytes(), "before");

    // Resuming takes only what comes next, not what was copied meanwhile.
    board.copyFromOtherApp("while paused");
    store->setPaused(false);
    poll();
    poll();
    EXPECT_EQ(texts(), Texts{"before"});
    copy("after");
    EXPECT_EQ(texts(), (Texts{"after", "before"}));
}

TEST_F(ClipStoreTest, ChecksAfterTheStoreIsGoneDoNothing) {
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

}  // namespace
}  // namespace brimlet
