// The CLIPBOARD selection on X11, read and served by a SelectionWorker so
// that the GUI thread never waits on the selection's owner.
#pragma once

#include <memory>

#include "platform/worker/worker_pasteboard.h"
#include "platform/x11/selection_worker.h"

namespace brimlet::platform {

// Null when `displayName` (null: $DISPLAY) cannot be reached or lacks XFixes.
[[nodiscard]] std::unique_ptr<WorkerPasteboard> openX11Pasteboard(const char* displayName = nullptr,
                                                                  TransferLimits limits = {});

}  // namespace brimlet::platform
