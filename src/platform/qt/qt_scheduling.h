// Timers and queued calls on the GUI thread's event loop.
#pragma once

#include "platform/core/scheduling.h"

namespace brimlet::platform {

class QtTimerScheduler final : public TimerScheduler {
  public:
    std::shared_ptr<RepeatingTimer> scheduleRepeating(Seconds interval,
                                                      std::function<void()> action) override;
};

class QtMainExecutor final : public MainExecutor {
  public:
    void post(std::function<void()> task) override;
};

}  // namespace brimlet::platform
