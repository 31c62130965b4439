// The real clipboard, timers and GUI-thread queue. Each is made on first use,
// which must happen on the GUI thread once the application object exists.
#pragma once

#include <string>

#include "platform/pasteboard.h"
#include "platform/scheduling.h"

namespace brimlet::platform {

Pasteboard& generalPasteboard();
// Which clipboard generalPasteboard() reaches, in a few words for the user.
const std::string& generalPasteboardDescription();
// The same for the clipboard Brimlet would use in this session, found
// without reading it.
std::string describeGeneralPasteboard();
TimerScheduler& mainTimerScheduler();
MainExecutor& mainExecutor();

}  // namespace brimlet::platform
