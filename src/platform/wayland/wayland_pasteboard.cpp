#include "platform/wayland/wayland_pasteboard.h"

#include <utility>

#include "platform/wayland/data_control_worker.h"

namespace brimlet::platform {

std::unique_ptr<WorkerPasteboard> openWaylandPasteboard(const char* displayName,
                                                        TransferLimits limits) {
    return WorkerPasteboard::open([&](ClipboardWorker::Deliver deliver) {
        return wayland::DataControlWorker::start(displayName, std::move(deliver), limits);
    });
}

}  // namespace brimlet::platform
