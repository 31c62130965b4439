#include "platform/worker/snapshot_queue.h"

#include <utility>

namespace brimlet::platform {

bool SnapshotQueue::flooding(Clock::time_point now) {
    recent_.push_back(now);
    while (now - recent_.front() > limits_.floodWindow) {
        recent_.pop_front();
    }
    // Enough to tell whether the limit is passed.
    if (recent_.size() > limits_.floodTexts + 1) {
        recent_.pop_front();
    }
    return recent_.size() > limits_.floodTexts;
}

void SnapshotQueue::dropLast() {
    if (waiting_.back().text) {
        waitingBytes_ -= waiting_.back().text->footprint();
    }
    waiting_.pop_back();
}

void SnapshotQueue::push(std::optional<Text> snapshot, Clock::time_point arrived) {
    if (!waiting_.empty() && !waiting_.back().text) {
        dropLast();  // superseded before its turn
    }
    if (!snapshot) {
        waiting_.push_back({std::nullopt, arrived});
        return;
    }
    const Clock::duration superseded =
        flooding(arrived) ? limits_.floodWindow : limits_.quickReplace;
    while (!waiting_.empty() && arrived - waiting_.back().arrived < superseded) {
        dropLast();
    }
    waitingBytes_ += snapshot->footprint();
    waiting_.push_back({std::move(snapshot), arrived});
    trim();
}

void SnapshotQueue::trim() {
    while (waiting_.size() > 1 &&
           (waiting_.size() > limits_.maxWaiting || waitingBytes_ > limits_.maxWaitingBytes)) {
        waitingBytes_ -= waiting_.front().text->footprint();
        waiting_.pop_front();
    }
}

std::int64_t SnapshotQueue::changeCount() {
    if (!waiting_.empty()) {
        current_ = std::move(waiting_.front().text);
        waiting_.pop_front();
        if (current_) {
            waitingBytes_ -= current_->footprint();
        }
        ++count_;
    }
    return count_;
}

std::int64_t SnapshotQueue::replace(std::optional<Text> ours) {
    waiting_.clear();
    waitingBytes_ = 0;
    current_ = std::move(ours);
    return ++count_;
}

}  // namespace brimlet::platform
