// The CLIPBOARD selection, read and served on a thread of its own with its
// own X connection, so that a slow, hung or vanished owner never holds up the
// GUI thread. Knows nothing of Qt.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/text.h"
#include "platform/worker/clipboard_worker.h"

namespace brimlet::platform::x11 {

using SelectionSnapshot = platform::SelectionSnapshot;
using SelectionLimits = TransferLimits;

class SelectionWorker final : public ClipboardWorker {
  public:
    // Connects to `displayName` (null: $DISPLAY) and starts the thread, which
    // first reads whatever the clipboard holds now. Null when the display
    // cannot be reached or lacks the XFixes extension.
    static std::unique_ptr<SelectionWorker> start(const char* displayName, Deliver deliver,
                                                  SelectionLimits limits = {});

    // Gives up the clipboard if we own it.
    ~SelectionWorker() override;

  private:
    class Impl;
    SelectionWorker() = default;

    std::unique_ptr<Impl> impl_;
};

}  // namespace brimlet::platform::x11
