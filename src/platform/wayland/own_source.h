// Our own data source on the Wayland clipboard: it offers our text in every
// text type it fits, plus a marker by which we know our own selection, and
// writes it to each reader's pipe.
#pragma once

#include <wayland-client.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/text.h"
#include "platform/wayland/data_control_protocol.h"
#include "platform/wayland/pipes.h"
#include "platform/worker/clipboard_worker.h"

namespace brimlet::platform::wayland {

// Text types in the order we prefer them; STRING is ISO 8859-1.
constexpr std::string_view kLatin1String = "STRING";
constexpr std::array<std::string_view, 4> kTextTypes{"text/plain;charset=utf-8", "UTF8_STRING",
                                                     "text/plain", kLatin1String};

class OwnSource {
  public:
    OwnSource(const Protocol& protocol, wl_proxy* manager, const TransferLimits& limits);
    OwnSource(const OwnSource&) = delete;
    OwnSource& operator=(const OwnSource&) = delete;
    ~OwnSource();

    // Makes a source with `text` (or none) the selection of `device`, or
    // with kSetPrimarySelection its primary selection.
    void own(wl_proxy* device, std::optional<Text> text, std::uint32_t request = kSetSelection);
    // Offered beside our text only.
    [[nodiscard]] const std::string& marker() const { return marker_; }

    void appendPollFds(std::vector<pollfd>& fds) const { writers_.appendPollFds(fds); }
    void writable(const std::vector<int>& fds) { writers_.writable(fds); }
    void expire(Clock::time_point now) { writers_.expire(now); }
    void considerDeadlines(NextDeadline& next) const { writers_.considerDeadlines(next); }

  private:
    static const SourceListener kListener;

    void send(wl_proxy* source, std::string_view mimeType, int fd);
    void cancelled(wl_proxy* source);

    const Protocol& protocol_;
    wl_proxy* manager_;
    std::string marker_;
    wl_proxy* source_ = nullptr;
    std::optional<OwnedText> owned_;
    PipeWriters writers_;
};

}  // namespace brimlet::platform::wayland
