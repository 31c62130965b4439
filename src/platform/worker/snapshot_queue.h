// What a clipboard adapter hands the polls: the snapshots it read, one per
// poll, trimmed so that a storm of changes never keeps a copy waiting.
//
// The policy:
//  - A change without text never waits in line: it is shown only while it is
//    the newest change, and the next text takes its place.
//  - Texts wait in order, one per poll, so that copies at a human pace (up to
//    `floodTexts` within `floodWindow`, even ten in one second) all reach the
//    history.
//  - A waiting text gives way to a newer one when it was replaced sooner
//    than `quickReplace` (nobody copies that fast), and during a flood (more
//    texts within `floodWindow`) so does every text of that window. Polls
//    twice a second cannot keep up with either, and whatever waited would be
//    superseded before its turn: each poll sees the newest text, the history
//    follows the flood in order, and the first copy after it is next.
//  - Never more texts wait than the history holds, nor more bytes than its
//    budget; the oldest give way, the newest is always kept.
// Knows nothing of the clipboard system; the caller supplies the time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

#include "platform/core/text.h"

namespace brimlet::platform {

class SnapshotQueue {
  public:
    using Clock = std::chrono::steady_clock;

    struct Limits {
        Clock::duration quickReplace = std::chrono::milliseconds(40);
        std::size_t floodTexts = 30;
        Clock::duration floodWindow = std::chrono::seconds(10);
        std::size_t maxWaiting = 50;
        std::size_t maxWaitingBytes = std::size_t{256} << 20;
    };

    SnapshotQueue() = default;
    explicit SnapshotQueue(const Limits& limits) : limits_(limits) {}

    // Another program changed the clipboard; `snapshot` is its plain text, or
    // nothing when it has none.
    void push(std::optional<Text> snapshot, Clock::time_point arrived);
    // Moves on to the next waiting snapshot, if any, and returns the counter.
    std::int64_t changeCount();
    // The snapshot the counter stands at.
    [[nodiscard]] const std::optional<Text>& current() const { return current_; }
    // Our own write: what waits describes contents we replaced. Returns the
    // counter, moved on once.
    std::int64_t replace(std::optional<Text> ours);
    [[nodiscard]] std::size_t waiting() const { return waiting_.size(); }

  private:
    struct Waiting {
        std::optional<Text> text;
        Clock::time_point arrived;
    };

    bool flooding(Clock::time_point now);
    void dropLast();
    void trim();

    Limits limits_;
    std::int64_t count_ = 0;
    std::optional<Text> current_;
    // Texts, except perhaps a last entry without one.
    std::deque<Waiting> waiting_;
    std::size_t waitingBytes_ = 0;
    // When the recent texts arrived, oldest first, within `floodWindow`.
    std::deque<Clock::time_point> recent_;
};

}  // namespace brimlet::platform
