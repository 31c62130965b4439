// The composition root: the real clipboard, timers and GUI-thread queue,
// picked for this session. Each is made on first use, which must happen on
// the GUI thread once the application object exists. ClipStore::shared()
// is defined here too, over these.
#pragma once

#include <QString>
#include <string>

#include "platform/core/pasteboard.h"
#include "platform/core/scheduling.h"

namespace brimlet::adapters {

platform::Pasteboard& generalPasteboard();
// In a few words for the user: the clipboard Brimlet would use in this
// session, found without reading it.
std::string describeGeneralPasteboard();
platform::TimerScheduler& mainTimerScheduler();
platform::MainExecutor& mainExecutor();
// Where this process's single-instance socket lives: its user, the display
// Qt opened and XDG_RUNTIME_DIR.
QString instanceServerName();

}  // namespace brimlet::adapters
