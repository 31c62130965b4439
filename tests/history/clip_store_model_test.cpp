// Random sequences of copies, storms of changes without text, bursts of
// copies faster than the poll, polls, copy-backs and clears, checked step by
// step against a small model of the history rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "history/clip_store.h"
#include "platform/fakes/fake_pasteboard.h"
#include "platform/fakes/fake_scheduling.h"

namespace brimlet {
namespace {

// A text with its known equivalence class; blank texts have class -1. The
// model decides equality by class, independently of the store's rules.
struct Sample {
    std::string bytes;
    int cls;
};

std::vector<Sample> samplePool() {
    std::vector<Sample> pool = {
        {"", -1},
        {" \t\n", -1},
        {"\u00a0\u3000", -1},
        {"\u2028\u0085", -1},
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
        {"\u1100\u1161", 10},
        {"\uac00", 10},
    };
    // Enough distinct texts to run into the cap again and again, and a few
    // long enough to run into the size budget.
    for (int i = 0; i < 70; ++i) {
        pool.push_back({"text " + std::to_string(i), 100 + i});
    }
    for (int i = 0; i < 6; ++i) {
        pool.push_back({std::string(80 + 40 * i, static_cast<char>('k' + i)), 200 + i});
    }
    pool.push_back({std::string(600, 'z'), 300});  // alone over the budget
    return pool;
}

struct ModelEntry {
    Uuid id;
    std::string bytes;
    int cls;
};

constexpr std::size_t kBudget = 500;

class Model {
  public:
    std::vector<ModelEntry> items;
    std::optional<Sample> clipboard;
    std::int64_t lastSeen = 0;

    // Returns the number of announcements the step must make.
    int capture() {
        if (!clipboard || clipboard->cls < 0) {
            return 0;
        }
        if (!items.empty() && items.front().cls == clipboard->cls) {
            return 0;
        }
        std::erase_if(items, [&](const ModelEntry& e) { return e.cls == clipboard->cls; });
        items.insert(items.begin(), {Uuid(), clipboard->bytes, clipboard->cls});
        const auto bytes = [&] {
            std::size_t sum = 0;
            // A text's keys count towards the budget too.
            for (const ModelEntry& e : items) {
                sum += Text(e.bytes).footprint();
            }
            return sum;
        };
        if (items.size() <= kHistoryCapacity && bytes() <= kBudget) {
            return 2;
        }
        while (items.size() > kHistoryCapacity || (items.size() > 1 && bytes() > kBudget)) {
            items.pop_back();
        }
        return 3;
    }
};

TEST(ClipStoreModel, RandomOperationsFollowTheHistoryRules) {
    const std::vector<Sample> pool = samplePool();
    platform::FakePasteboard board;
    platform::FakeTimerScheduler timers;
    platform::FakeMainExecutor executor;
    auto store = ClipStore::make({
        .generalPasteboard = [&]() -> platform::Pasteboard& { return board; },
        .timers = &timers,
        .mainExecutor = &executor,
        .textBudget = kBudget,
    });
    int notifications = 0;
    auto subscription = store->objectWillChange().subscribe([&] { ++notifications; });

    Model model;
    model.lastSeen = board.changeCount();
    store->start();  // an empty clipboard: nothing to capture

    std::mt19937 random(20261206);
    const auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    std::vector<ClipItem> seen;  // entries that may since have left the list

    constexpr int kSteps = 120000;  // at least 10^5
    for (int step = 0; step < kSteps; ++step) {
        notifications = 0;
        int expected = 0;
        // Clears are rare so that the history keeps running into its cap.
        const std::size_t op = pick(2000);
        if (op < 800) {
            const Sample& sample = pool[pick(pool.size())];
            board.copyFromOtherApp(Text(sample.bytes));
            model.clipboard = sample;
        } else if (op < 860) {
            board.copyNonTextFromOtherApp();
            model.clipboard.reset();
        } else if (op < 880) {
            // A storm of changes without text, perhaps around one text.
            const std::size_t changes = 1 + pick(300);
            const std::size_t textAt = pick(2) == 0 ? pick(changes) : changes;
            model.clipboard.reset();
            for (std::size_t i = 0; i < changes; ++i) {
                if (i == textAt) {
                    const Sample& sample = pool[pick(pool.size())];
                    board.copyFromOtherApp(Text(sample.bytes));
                    model.clipboard = sample;
                } else {
                    board.copyNonTextFromOtherApp();
                    model.clipboard.reset();
                }
            }
        } else if (op < 900) {
            // A burst of copies between two polls: the poll sees the last.
            const std::size_t copies = 2 + pick(20);
            for (std::size_t i = 0; i < copies; ++i) {
                const Sample& sample = pool[pick(pool.size())];
                board.copyFromOtherApp(Text(sample.bytes));
                model.clipboard = sample;
            }
        } else if (op < 1500) {
            // One to three periods pass before the queued checks run.
            const std::size_t periods = 1 + pick(3);
            for (std::size_t i = 0; i < periods; ++i) {
                timers.tick();
            }
            executor.runAll();
            if (board.changeCount() != model.lastSeen) {
                model.lastSeen = board.changeCount();
                expected = model.capture();
                if (expected > 0) {
                    const Uuid fresh = store->items().front().id;
                    for (const auto& e : model.items) {
                        ASSERT_FALSE(e.id == fresh) << "step " << step << ": reused identity";
                    }
                    model.items.front().id = fresh;
                    seen.push_back(store->items().front());
                }
            }
        } else if (op < 1998) {
            ClipItem item;
            if (!store->items().empty() && pick(4) != 0) {
                item = store->items()[pick(store->items().size())];
            } else if (!seen.empty()) {
                item = seen[pick(seen.size())];
            } else {
                continue;
            }
            store->copyBack(item);
            expected = 2;
            const auto sample = std::find_if(pool.begin(), pool.end(), [&](const Sample& s) {
                return s.bytes == item.text.bytes();
            });
            ASSERT_NE(sample, pool.end());
            model.clipboard = *sample;
            model.lastSeen = board.changeCount();
            std::erase_if(model.items, [&](const ModelEntry& e) { return e.id == item.id; });
            model.items.insert(model.items.begin(), {item.id, sample->bytes, sample->cls});
        } else {
            store->setItems({});
            model.items.clear();
            expected = 1;
        }

        ASSERT_EQ(notifications, expected) << "step " << step;
        ASSERT_EQ(store->items().size(), model.items.size()) << "step " << step;
        for (std::size_t i = 0; i < model.items.size(); ++i) {
            ASSERT_EQ(store->items()[i].id, model.items[i].id) << "step " << step << " at " << i;
            ASSERT_EQ(store->items()[i].text.bytes(), model.items[i].bytes) << "step " << step;
        }
        ASSERT_EQ(board.contents().has_value(), model.clipboard.has_value()) << "step " << step;
        if (model.clipboard) {
            ASSERT_EQ(board.contents()->bytes(), model.clipboard->bytes) << "step " << step;
        }
        if (seen.size() > 400) {
            seen.erase(seen.begin(), seen.begin() + 200);
        }
    }
}

}  // namespace
}  // namespace brimlet
