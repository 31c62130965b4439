#include "history/clip_store.h"

#include <algorithm>
#include <numeric>
#include <utility>

#include "platform/core/text.h"

namespace brimlet {

std::shared_ptr<ClipStore> ClipStore::make(StoreEnvironment environment) {
    return std::shared_ptr<ClipStore>(new ClipStore(std::move(environment)));
}

ClipStore::ClipStore(StoreEnvironment environment)
    : env_(std::move(environment)), lastChangeCount_(env_.generalPasteboard().changeCount()) {}

void ClipStore::setItems(std::vector<ClipItem> items) {
    objectWillChange_.send();
    items_ = std::move(items);
}

void ClipStore::capture() {
    const std::optional<Text> pasted = env_.generalPasteboard().string();
    if (!pasted) {
        return;
    }
    const Text& text = *pasted;
    if (platform::isBlank(text.bytes())) {
        return;
    }
    if (!items_.empty() && items_.front().text == text) {
        return;
    }

    objectWillChange_.send();
    std::erase_if(items_, [&](const ClipItem& item) { return item.text == text; });

    objectWillChange_.send();
    items_.insert(items_.begin(), ClipItem{Uuid::random(), text});

    const auto bytes = [this] {
        return std::accumulate(
            items_.begin(), items_.end(), std::size_t{0},
            [](std::size_t sum, const ClipItem& item) { return sum + item.text.footprint(); });
    };
    // One trimming step for either bound: the oldest leave first.
    if (items_.size() > kHistoryCapacity || bytes() > env_.textBudget) {
        objectWillChange_.send();
        items_.resize(std::min(items_.size(), kHistoryCapacity));
        std::size_t total = bytes();
        while (items_.size() > 1 && total > env_.textBudget) {
            total -= items_.back().text.footprint();
            items_.pop_back();
        }
    }
}

void ClipStore::copyBack(const ClipItem& item) {
    platform::Pasteboard& pasteboard = env_.generalPasteboard();
    pasteboard.clearContents();
    pasteboard.setString(item.text);
    lastChangeCount_ = pasteboard.changeCount();

    // Copy first: `item` may refer into `items_`.
    ClipItem moved = item;
    objectWillChange_.send();
    std::erase_if(items_, [&](const ClipItem& other) { return other.id == moved.id; });

    objectWillChange_.send();
    items_.insert(items_.begin(), std::move(moved));
}

void ClipStore::setPaused(bool paused) {
    if (paused == paused_) {
        return;
    }
    pausedWillChange_.send();
    paused_ = paused;
    if (!paused) {
        // A copy made since the last tick belongs to the pause too.
        lastChangeCount_ = env_.generalPasteboard().changeCount();
    }
}

void ClipStore::start() {
    if (timer_) {
        return;
    }
    if (!paused_) {
        capture();
    }

    // The timer must not keep the store alive; each queued check looks it up.
    platform::MainExecutor* executor = env_.mainExecutor;
    timer_ = env_.timers->scheduleRepeating(kPollPeriod, [weak = weak_from_this(), executor] {
        executor->post([weak] {
            if (const auto store = weak.lock()) {
                store->check();
            }
        });
    });
}

void ClipStore::check() {
    const std::int64_t count = env_.generalPasteboard().changeCount();
    if (count == lastChangeCount_) {
        return;
    }
    lastChangeCount_ = count;
    if (!paused_) {
        capture();
    }
}

}  // namespace brimlet
