// Serves our own text as the CLIPBOARD's owner, on the worker thread: as
// UTF-8, and as ISO 8859-1 when it fits, whole or incrementally to readers
// that take large texts piece by piece.
#pragma once

#include <xcb/xcb.h>

#include <optional>
#include <vector>

#include "platform/core/text.h"
#include "platform/worker/clipboard_worker.h"
#include "platform/x11/xcb_support.h"

namespace brimlet::platform::x11 {

class SelectionServer {
  public:
    SelectionServer(xcb_connection_t* c, xcb_window_t window, const Atoms& atoms,
                    const TransferLimits& limits);

    // We took the clipboard at `time` with `text`, or with no text at all.
    void own(std::optional<Text> text, xcb_timestamp_t time);
    void disown() { owned_.reset(); }
    [[nodiscard]] bool owns() const { return owned_.has_value(); }
    // What we own the clipboard with; only while owns().
    [[nodiscard]] const std::optional<Text>& text() const { return owned_->served.text(); }

    // A request for the CLIPBOARD, answered or refused.
    void request(const xcb_selection_request_event_t& event);
    // The server says we lost the clipboard.
    void cleared(const xcb_selection_clear_event_t& event);
    // A reader deleted a property: it wants the next piece.
    void propertyDeleted(const xcb_property_notify_event_t& event);

    void expire(Clock::time_point now);
    void considerDeadlines(NextDeadline& next) const;

  private:
    struct Owned {
        OwnedText served;
        xcb_timestamp_t time = XCB_CURRENT_TIME;
    };

    // An incremental transfer of our text to one requestor's property.
    struct Transfer {
        xcb_window_t requestor = XCB_NONE;
        xcb_atom_t property = XCB_NONE;
        xcb_atom_t type = XCB_NONE;
        Payload payload;
        std::size_t offset = 0;
        Clock::time_point deadline{};
    };

    bool answer(xcb_window_t requestor, xcb_atom_t property, xcb_atom_t target);
    void send(xcb_window_t requestor, xcb_atom_t property, xcb_atom_t type, Payload payload);
    void endTransfer(std::vector<Transfer>::iterator transfer);
    void watch(xcb_window_t requestor, bool on);

    xcb_connection_t* c_;
    xcb_window_t window_;
    Atoms atoms_;
    TransferLimits limits_;
    // The largest single property we write; bigger texts go incrementally.
    std::size_t chunk_;
    std::optional<Owned> owned_;
    std::vector<Transfer> transfers_;
};

}  // namespace brimlet::platform::x11
