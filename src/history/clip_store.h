// The clipboard history: newest first, no repeated texts, after each capture
// at most `kHistoryCapacity` entries and `kHistoryTextBudget` bytes of text
// and its comparison keys (the newest entry always stays, whatever its size).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "history/clip_item.h"
#include "platform/core/observable.h"
#include "platform/core/pasteboard.h"
#include "platform/core/scheduling.h"

namespace brimlet {

inline constexpr std::size_t kHistoryCapacity = 50;
// 50 texts at the 64 MiB a clipboard read allows would be 3.2 GB.
inline constexpr std::size_t kHistoryTextBudget = std::size_t{256} << 20;
inline constexpr platform::Seconds kPollPeriod{0.5};

// What the store reaches the system through.
struct StoreEnvironment {
    // Fetched afresh on every use; the store keeps no reference to it.
    std::function<platform::Pasteboard&()> generalPasteboard;
    platform::TimerScheduler* timers = nullptr;
    platform::MainExecutor* mainExecutor = nullptr;
    // Tests shrink it.
    std::size_t textBudget = kHistoryTextBudget;
};

class ClipStore : public std::enable_shared_from_this<ClipStore> {
  public:
    // The one store of the process, made on first use with the system's
    // clipboard, timers and GUI-thread queue, which the application's
    // composition root picks (and defines this over). Lives until the
    // process ends.
    static ClipStore& shared();

    // A store on the given environment (tests, benchmarks).
    static std::shared_ptr<ClipStore> make(StoreEnvironment environment);

    ClipStore(const ClipStore&) = delete;
    ClipStore& operator=(const ClipStore&) = delete;
    ~ClipStore() = default;

    [[nodiscard]] const std::vector<ClipItem>& items() const { return items_; }
    // Replaces the whole history; touches neither the clipboard nor the
    // change count. Observers hear once, before the replacement.
    void setItems(std::vector<ClipItem> items);

    // Puts the item's text back on the clipboard and moves the item, with its
    // identity, to the top. The next poll does not capture it again.
    void copyBack(const ClipItem& item);

    // Captures once now, then checks the clipboard every `kPollPeriod`.
    // Later calls do nothing.
    void start();

    // Sent synchronously before every mutation step of `items`.
    platform::WillChangePublisher& objectWillChange() { return objectWillChange_; }

    // While paused, polling keeps up with the clipboard's changes but
    // captures none of them, and resuming records the counter, so nothing
    // copied meanwhile comes back. Copy-back and "Clear all" work as usual.
    void setPaused(bool paused);
    [[nodiscard]] bool paused() const { return paused_; }
    // Sent before the paused state changes.
    platform::WillChangePublisher& pausedWillChange() { return pausedWillChange_; }

  private:
    explicit ClipStore(StoreEnvironment environment);

    void capture();
    void check();

    StoreEnvironment env_;
    std::vector<ClipItem> items_;
    std::int64_t lastChangeCount_ = 0;
    std::shared_ptr<platform::RepeatingTimer> timer_;
    bool paused_ = false;
    platform::WillChangePublisher objectWillChange_;
    platform::WillChangePublisher pausedWillChange_;
};

}  // namespace brimlet
