// The clipboard of a Wayland session through the compositor's data-control
// protocol, read and served by a DataControlWorker whatever platform Qt's
// windows use.
#pragma once

#include <memory>

#include "platform/worker/worker_pasteboard.h"

namespace brimlet::platform {

// Null when `displayName` (null: $WAYLAND_DISPLAY) cannot be reached or the
// compositor offers no data-control protocol.
[[nodiscard]] std::unique_ptr<WorkerPasteboard> openWaylandPasteboard(
    const char* displayName = nullptr, TransferLimits limits = {});

}  // namespace brimlet::platform
