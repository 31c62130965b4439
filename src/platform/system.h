// The real clipboard, timers and GUI-thread queue. Each is made on first use,
// which must happen on the GUI thread once the application object exists.
#pragma once

#include "platform/pasteboard.h"
#include "platform/scheduling.h"

namespace brimlet::platform {

Pasteboard& generalPasteboard();
TimerScheduler& mainTimerScheduler();
MainExecutor& mainExecutor();

}  // namespace brimlet::platform
