// The composition root: the real clipboard, timers and GUI-thread queue,
// picked for this session. Each is made on first use, which must happen on
// the GUI thread once the application object exists. ClipStore::shared()
// is defined here too, over these.
#pragma once

#include <QString>
#include <functional>
#include <string>

#include "platform/core/pasteboard.h"
#include "platform/core/paster.h"
#include "platform/core/scheduling.h"

namespace brimlet::adapters {

platform::Pasteboard& generalPasteboard();
// In a few words for the user: the clipboard Brimlet would use in this
// session, found without reading it.
std::string describeGeneralPasteboard();
// Whether the clipboard holds our latest write yet; any thread may ask.
std::function<bool()> clipboardSettled();
// Pastes a pick where the user was, where this session lets a program send
// keys to another; elsewhere it does nothing.
platform::Paster& paster();
// Waits until the display has done what our windows asked of it so far.
void syncDisplay();
// In a few words for the user: how a pick is pasted in this session.
std::string describePaster();
platform::TimerScheduler& mainTimerScheduler();
platform::MainExecutor& mainExecutor();
// Where this process's single-instance socket lives: its user, the display
// Qt opened and XDG_RUNTIME_DIR.
QString instanceServerName();

}  // namespace brimlet::adapters
