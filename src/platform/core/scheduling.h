// The GUI thread's repeating timers and its queue of tasks.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace brimlet::platform {

using Seconds = std::chrono::duration<double>;

// A scheduled repeating timer. The scheduler keeps it running for the rest of
// the process; dropping the handle does not stop it.
class RepeatingTimer {
  public:
    virtual ~RepeatingTimer() = default;
    [[nodiscard]] virtual Seconds interval() const = 0;
};

class TimerScheduler {
  public:
    virtual ~TimerScheduler() = default;
    // Runs `action` on the GUI thread every `interval`, for as long as the
    // process lives.
    virtual std::shared_ptr<RepeatingTimer> scheduleRepeating(Seconds interval,
                                                              std::function<void()> action) = 0;
};

class MainExecutor {
  public:
    virtual ~MainExecutor() = default;
    // Queues `task` behind the GUI thread's current work; never runs it inline.
    virtual void post(std::function<void()> task) = 0;
};

}  // namespace brimlet::platform
