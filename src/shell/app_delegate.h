// Told once the event loop runs: makes the process a tray-only accessory and
// starts watching the clipboard.
#pragma once

#include <functional>

#include "history/clip_store.h"
#include "platform/core/scheduling.h"

namespace brimlet {

class AppDelegate {
  public:
    // The system's GUI-thread queue and the shared store.
    AppDelegate();
    // For tests: where the start is queued, and the store it starts.
    AppDelegate(platform::MainExecutor& executor, std::function<ClipStore&()> store);

    void applicationDidFinishLaunching();

  private:
    platform::MainExecutor& executor_;
    std::function<ClipStore&()> store_;
};

}  // namespace brimlet
