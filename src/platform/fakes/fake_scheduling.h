// Timers and a task queue that run only when a test says so.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "platform/core/scheduling.h"

namespace brimlet::platform {

class FakeTimerScheduler final : public TimerScheduler {
  public:
    class Timer final : public RepeatingTimer {
      public:
        Timer(Seconds interval, std::function<void()> action)
            : interval_(interval), action_(std::move(action)) {}
        [[nodiscard]] Seconds interval() const override { return interval_; }
        void fire() { action_(); }

      private:
        Seconds interval_;
        std::function<void()> action_;
    };

    std::shared_ptr<RepeatingTimer> scheduleRepeating(Seconds interval,
                                                      std::function<void()> action) override {
        // Held here like a run loop holds its timers: they outlive their owners.
        timers_.push_back(std::make_shared<Timer>(interval, std::move(action)));
        return timers_.back();
    }

    // One period passes: every timer fires once.
    void tick() {
        const auto timers = timers_;
        for (const auto& timer : timers) {
            timer->fire();
        }
    }
    [[nodiscard]] std::size_t timerCount() const { return timers_.size(); }
    [[nodiscard]] const std::vector<std::shared_ptr<Timer>>& timers() const { return timers_; }

  private:
    std::vector<std::shared_ptr<Timer>> timers_;
};

class FakeMainExecutor final : public MainExecutor {
  public:
    void post(std::function<void()> task) override { queue_.push_back(std::move(task)); }

    // Runs queued tasks, including those they queue, until none is left.
    std::size_t runAll() {
        std::size_t ran = 0;
        while (!queue_.empty()) {
            auto task = std::move(queue_.front());
            queue_.pop_front();
            task();
            ++ran;
        }
        return ran;
    }
    [[nodiscard]] std::size_t pending() const { return queue_.size(); }

  private:
    std::deque<std::function<void()>> queue_;
};

}  // namespace brimlet::platform
