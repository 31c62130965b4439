// The history on a fake clipboard whose checks run only when a test says so:
// its rules case by case, then random operations against a small model.
#include "history/clip_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
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
        store->start();
        board.stringReads = 0;
    }

    std::shared_ptr<ClipStore> make(std::size_t budget = kHistoryTextBudget) {
        return ClipStore::make({
            .generalPasteboard = [this]() -> platform::Pasteboard& { return board; },
            .timers = &timers,
            .mainExecutor = &executor,
            .textBudget = budget,
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
    [[nodiscard]] Texts texts() const {
        Texts out;
        for (const auto& item : store->items()) {
            out.emplace_back(item.text.bytes());
        }
        return out;
    }

    platform::FakePasteboard board;
    platform::FakeTimerScheduler timers;
    platform::FakeMainExecutor executor;
    std::shared_ptr<ClipStore> store = make();
};

TEST_F(ClipStoreTest, CopyBackMovesTheEntryUpEvenWhenRefused) {
    for (const char* text : {"first", "second", "third"}) {
        copy(text);
    }
    const ClipItem oldest = store->items().back();
    board.refuseWrites = true;
    store->copyBack(oldest);
    EXPECT_EQ(store->items().front(), oldest);
    poll();
    EXPECT_EQ(board.stringReads, 3) << "a refused write was taken for a change";
}

TEST_F(ClipStoreTest, StartCapturesOnceAndLaterPollsFollowTheCounterFromCreation) {
    board.copyFromOtherApp("at launch");
    store = make();
    EXPECT_EQ(board.stringReads, 0);
    store->start();
    store->start();
    EXPECT_EQ(texts(), Texts{"at launch"});
    // Clearing leaves the clipboard alone, and its unchanged text stays out.
    store->setItems({});
    poll();
    EXPECT_TRUE(store->items().empty());
    EXPECT_EQ(board.clears + board.writes, 0);
    board.copyFromOtherApp("up");
    board.setChangeCount(5);  // counters may run backwards
    poll();
    EXPECT_EQ(texts(), Texts{"up"});

    // Checks still queued when the store goes do nothing.
    timers.tick();
    store.reset();
    board.counterReads = board.stringReads = 0;
    copy("nobody listens");
    EXPECT_EQ(board.counterReads + board.stringReads, 0);
}

// Copies (several between two polls, some without text), polls after one
// or more periods, copy-backs of listed and of dropped entries, pauses and
// clears, against a model that knows each sample's equivalence class (-1:
// blank) instead of the text rules.
TEST_F(ClipStoreTest, RandomOperationsFollowTheHistoryRules) {
    struct Sample {
        std::string bytes;
        int cls;
    };
    std::vector<Sample> pool = {
        {"", -1},
        {" \t\n\r", -1},
        {"\u00a0\u3000", -1},
        {"\u2028\u0085", -1},
        {"\u202f\u205f", -1},
        {"alpha", 1},
        {"Alpha", 2},
        {"alpha ", 3},
        {"caf\u00e9", 4},
        {"cafe\u0301", 4},
        {"\u00c5", 5},
        {"\u212b", 5},
        {"A\u030a", 5},
        {"\u200b", 6},
        {"\xff", 7},
        {"\xfe", 8},
        {std::string("x\0y", 3), 9},
        {"\uac00", 10},
        {"\u1100\u1161", 10},
    };
    // Enough texts to reach the cap again and again, and some long enough to
    // reach the budget, one of them alone.
    for (int i = 0; i < 70; ++i) {
        pool.push_back({"text " + std::to_string(i), 100 + i});
    }
    for (int i = 0; i < 7; ++i) {
        pool.push_back(
            {std::string(i == 6 ? 600 : 80 + 40 * i, static_cast<char>('k' + i)), 200 + i});
    }
    constexpr std::size_t kBudget = 500;
    store = make(kBudget);
    int heard = 0;
    int pauseNotices = 0;
    auto hearing = store->objectWillChange().subscribe([&] { ++heard; });
    auto pausing = store->pausedWillChange().subscribe([&] { ++pauseNotices; });
    store->start();

    struct Entry {
        Uuid id;
        const Sample* sample;
    };
    std::vector<Entry> model;
    const Sample* clipboard = nullptr;  // none: contents without text
    std::int64_t lastSeen = board.changeCount();
    bool paused = false;
    const auto capture = [&] {  // true when the history changes
        if (clipboard == nullptr || clipboard->cls < 0 ||
            (!model.empty() && model.front().sample->cls == clipboard->cls)) {
            return false;
        }
        std::erase_if(model, [&](const Entry& e) { return e.sample->cls == clipboard->cls; });
        model.insert(model.begin(), {Uuid(), clipboard});
        const auto bytes = [&] {
            std::size_t sum = 0;
            for (const Entry& e : model) {
                sum += Text(e.sample->bytes).footprint();
            }
            return sum;
        };
        while (model.size() > 50 || (model.size() > 1 && bytes() > kBudget)) {
            model.pop_back();
        }
        return true;
    };

    std::mt19937 random(20261206);
    const auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    std::vector<ClipItem> seen;  // entries that may since have left the list
    for (int step = 0; step < 100000; ++step) {
        heard = pauseNotices = 0;
        const int reads = board.stringReads;
        bool changes = false;
        const std::size_t op = pick(2000);  // clears are rare: the cap must be reached
        if (op < 860) {
            clipboard = op < 800 ? &pool[pick(pool.size())] : nullptr;
            if (clipboard != nullptr) {
                board.copyFromOtherApp(Text(clipboard->bytes));
            } else {
                board.copyNonTextFromOtherApp();
            }
        } else if (op < 1500) {
            for (std::size_t periods = pick(3); periods > 0; --periods) {
                timers.tick();
            }
            poll();
            // Read once for any number of checks, and only when the counter
            // moved since the last read or our own write.
            const bool moved = board.changeCount() != lastSeen;
            ASSERT_EQ(board.stringReads - reads, moved && !paused ? 1 : 0) << "step " << step;
            if (moved && !paused && (changes = capture())) {
                ASSERT_FALSE(store->items().empty()) << "step " << step;
                const ClipItem& fresh = store->items().front();
                for (const Entry& e : model) {
                    ASSERT_FALSE(e.id == fresh.id) << "step " << step << ": identity reused";
                }
                model.front().id = fresh.id;
                seen.push_back(fresh);
            }
            lastSeen = board.changeCount();
        } else if (op < 1990 && !(store->items().empty() && seen.empty())) {
            const bool listed = !store->items().empty() && (pick(4) != 0 || seen.empty());
            const ClipItem item =
                listed ? store->items()[pick(store->items().size())] : seen[pick(seen.size())];
            store->copyBack(item);
            changes = true;
            clipboard = &*std::find_if(pool.begin(), pool.end(), [&](const Sample& s) {
                return s.bytes == item.text.bytes();
            });
            lastSeen = board.changeCount();
            std::erase_if(model, [&](const Entry& e) { return e.id == item.id; });
            model.insert(model.begin(), {item.id, clipboard});
        } else if (op >= 1990 && op < 1998) {
            // Resuming takes only what is copied next.
            paused = !paused;
            store->setPaused(paused);
            store->setPaused(paused);
            ASSERT_EQ(pauseNotices, 1) << "step " << step;
            lastSeen = paused ? lastSeen : board.changeCount();
        } else if (op >= 1998) {
            store->setItems({});
            model.clear();
            changes = true;
        }

        ASSERT_EQ(heard > 0, changes) << "step " << step;  // views rebuild only when needed
        ASSERT_EQ(store->items().size(), model.size()) << "step " << step;
        for (std::size_t i = 0; i < model.size(); ++i) {
            ASSERT_EQ(store->items()[i].id, model[i].id) << "step " << step << " at " << i;
            ASSERT_EQ(store->items()[i].text.bytes(), model[i].sample->bytes) << "step " << step;
        }
        ASSERT_EQ(board.contents().has_value(), clipboard != nullptr) << "step " << step;
        ASSERT_TRUE(!clipboard || board.contents()->bytes() == clipboard->bytes) << "step " << step;
        if (seen.size() > 400) {
            seen.erase(seen.begin(), seen.begin() + 200);
        }
    }
}

}  // namespace
}  // namespace brimlet
