// The Wayland clipboard through a compositor's data-control protocol, read
// and served on a thread of its own with its own connection, so that neither
// Qt's platform nor a slow or silent program matters to the GUI thread.
// Knows nothing of Qt.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/text.h"
#include "platform/worker/clipboard_worker.h"

namespace brimlet::platform::wayland {

class DataControlWorker final : public ClipboardWorker {
  public:
    // Connects to `displayName` (null: $WAYLAND_DISPLAY) and starts the
    // thread, which first reads whatever the clipboard holds now. Null when
    // the compositor cannot be reached or offers no data-control protocol.
    static std::unique_ptr<DataControlWorker> start(const char* displayName, Deliver deliver,
                                                    TransferLimits limits = {});

    // What we put on the clipboard goes with us.
    ~DataControlWorker() override;

  private:
    class Impl;
    DataControlWorker() = default;

    std::unique_ptr<Impl> impl_;
};

// What another program's selection offer is to us, by the MIME types it
// lists: our own source (it lists `marker`), a password, a text to ask for
// as `type`, or no text.
struct OfferedText {
    enum class Kind { Ours, Password, Text, NoText };
    Kind kind = Kind::NoText;
    std::string_view type;
};
[[nodiscard]] OfferedText offeredText(const std::vector<std::string>& types,
                                      std::string_view marker);

// Whether a compositor at `displayName` offers data-control, without
// starting anything. For reporting what Brimlet would use.
[[nodiscard]] std::optional<std::string> probeDataControl(const char* displayName);

}  // namespace brimlet::platform::wayland
