#include "platform/x11/x11_pasteboard.h"

#include <utility>

namespace brimlet::platform {

std::unique_ptr<WorkerPasteboard> openX11Pasteboard(const char* displayName,
                                                    TransferLimits limits) {
    return WorkerPasteboard::open([&](ClipboardWorker::Deliver deliver) {
        return x11::SelectionWorker::start(displayName, std::move(deliver), limits);
    });
}

}  // namespace brimlet::platform
