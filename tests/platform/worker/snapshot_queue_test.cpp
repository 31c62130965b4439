// What each poll sees, on made-up time with a poll every half second.
#include "platform/worker/snapshot_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace brimlet::platform {
namespace {

using namespace std::chrono_literals;
using Clock = SnapshotQueue::Clock;
using Texts = std::vector<std::string>;

class SnapshotQueueTest : public ::testing::Test {
  protected:
    // Another program's change, `after` the previous one; none for a change
    // without text. The polls that fall in between run first.
    void change(const std::optional<std::string>& text, Clock::duration after) {
        advance(after);
        queue.push(text ? std::optional<Text>(Text(*text)) : std::nullopt, now);
        newest = text.value_or(newest);
    }
    void advance(Clock::duration duration) {
        const Clock::time_point until = now + duration;
        for (; nextPoll <= until; nextPoll += 500ms) {
            now = nextPoll;
            const std::int64_t before = std::exchange(count, queue.changeCount());
            if (count != before && queue.current()) {
                seen.emplace_back(queue.current()->bytes());
                seenNewest += seen.back() == newest ? 1 : 0;
            }
        }
        now = until;
    }
    // What the next poll captures, if anything.
    std::optional<std::string> nextCapture() {
        const std::size_t before = seen.size();
        advance(nextPoll - now);
        return seen.size() > before ? std::optional(seen.back()) : std::nullopt;
    }

    SnapshotQueue queue;
    Clock::time_point now{};
    Clock::time_point nextPoll = now + 500ms;
    std::int64_t count = 0;
    std::string newest;
    Texts seen;  // each poll's capture
    std::size_t seenNewest = 0;
};

TEST_F(SnapshotQueueTest, ChangesWithoutTextNeverHoldUpNorPushOutATextAndShowOnlyAsTheNewest) {
    const auto storm = [&](int changes) {
        for (int i = 0; i < changes; ++i) {
            change(std::nullopt, 1ms);
        }
    };
    storm(2000);
    change("between two storms", 1ms);
    storm(100);
    EXPECT_EQ(nextCapture(), "between two storms");
    change("one", 200ms);
    storm(200);
    change("two", 1ms);
    storm(200);
    advance(3s);
    EXPECT_EQ(seen, (Texts{"between two storms", "one", "two"}));

    const std::int64_t before = count;
    change(std::nullopt, 1ms);
    advance(1s);
    EXPECT_EQ(count, before + 1);
    EXPECT_FALSE(queue.current());
}

TEST_F(SnapshotQueueTest, CopiesAtAHumanPaceAllLandInOrderAndAFloodShowsItsNewest) {
    // Five a second for six seconds against two polls a second; later a
    // dozen quick ones.
    Texts copied;
    for (int i = 0; i < 42; ++i) {
        copied.push_back("copy " + std::to_string(i));
        change(copied.back(), i == 30 ? 11s : i > 30 ? 150ms : 200ms);
    }
    advance(30s);
    EXPECT_EQ(seen, copied);

    // Thirteen texts a second for half a minute: once the flood shows (its
    // first thirty texts) every poll sees the newest.
    seen.clear();
    seenNewest = 0;
    for (int i = 0; i < 390; ++i) {
        change("flood " + std::to_string(i), 77ms);
    }
    EXPECT_GE(seenNewest + 5, seen.size()) << "polls kept seeing texts older than the newest";
    EXPECT_GE(seen.size(), 59U);
    change("after the flood", 10ms);
    EXPECT_EQ(nextCapture(), "after the flood");

    // Storms of changes with and without text, fast and less so, then a copy.
    for (const auto apart : {4ms, 30ms, 150ms}) {
        for (int i = 0; i < 1000; ++i) {
            change(i % 2 == 0 ? std::optional("storm " + std::to_string(i)) : std::nullopt, apart);
        }
        change("after the storm", 1ms);
        EXPECT_EQ(nextCapture(), "after the storm") << apart.count();
    }
    // A flood that simply ends leaves its newest text for the next poll.
    for (int i = 0; i < 100; ++i) {
        change("last flood " + std::to_string(i), 4ms);
    }
    EXPECT_EQ(nextCapture(), "last flood 99");
}

TEST_F(SnapshotQueueTest, OurOwnWriteDropsWhatWaitsAndCountsOnce) {
    change("theirs 1", 200ms);
    change("theirs 2", 200ms);
    const std::int64_t before = queue.changeCount();
    EXPECT_EQ(queue.replace(Text("ours")), before + 1);
    EXPECT_EQ(queue.changeCount(), before + 1);
    EXPECT_EQ(queue.current()->bytes(), "ours");
    EXPECT_EQ(queue.replace(std::nullopt), before + 2);
    EXPECT_FALSE(queue.current());
}

TEST(SnapshotQueueLimits, NoMoreWaitsThanTheHistoryHoldsAndTheNewestAlwaysStays) {
    Clock::time_point now{};
    SnapshotQueue byCount;
    for (int i = 0; i < 60; ++i) {
        byCount.push(Text("#" + std::to_string(i)), now += 1s);
    }
    byCount.changeCount();
    EXPECT_EQ(byCount.current()->bytes(), "#10");

    SnapshotQueue bySize({.maxWaitingBytes = 100});
    for (const char text : {'x', 'y', 'z'}) {
        bySize.push(Text(std::string(40, text)), now += 1s);
    }
    bySize.changeCount();
    EXPECT_EQ(bySize.current()->bytes(), std::string(40, 'y'));
    bySize.push(Text(std::string(500, 'w')), now += 1s);
    bySize.changeCount();
    EXPECT_EQ(bySize.current()->size(), 500U);
}

}  // namespace
}  // namespace brimlet::platform
