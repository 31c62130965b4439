// What the X11 clipboard's reader, server and loop share: owned replies and
// connections, the atoms they speak in, and a few small requests.
#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>

namespace brimlet::platform::x11 {

using Clock = std::chrono::steady_clock;

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

struct Disconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
using Connection = std::unique_ptr<xcb_connection_t, Disconnect>;

struct Atoms {
    xcb_atom_t clipboard = XCB_NONE;
    xcb_atom_t targets = XCB_NONE;
    xcb_atom_t timestamp = XCB_NONE;
    xcb_atom_t incr = XCB_NONE;
    xcb_atom_t utf8String = XCB_NONE;
    xcb_atom_t textPlainUtf8 = XCB_NONE;
    // Password managers offer this target; its value varies ("secret", "1",
    // with or without a line end), so its presence alone marks a password.
    xcb_atom_t passwordHint = XCB_NONE;
    // A reading takes the owner's answers into this property of its window.
    xcb_atom_t fetchProperty = XCB_NONE;
    // Appending nothing to this property of our window yields a timestamp.
    xcb_atom_t timeProbe = XCB_NONE;
    xcb_atom_t clipboardManager = XCB_NONE;
    xcb_atom_t saveTargets = XCB_NONE;
};

[[nodiscard]] std::optional<Atoms> internAtoms(xcb_connection_t* c);

// X timestamps wrap around after 49 days; compare them as the server does.
[[nodiscard]] inline bool earlier(xcb_timestamp_t a, xcb_timestamp_t b) {
    return static_cast<std::int32_t>(a - b) < 0;
}

// A 1x1 window that hears of changes to its properties.
[[nodiscard]] xcb_window_t makeWindow(xcb_connection_t* c, xcb_window_t root);
[[nodiscard]] xcb_window_t selectionOwner(xcb_connection_t* c, xcb_atom_t selection);

// Hands every waiting event to `handle`. Handlers may send requests whose
// replies queue more events: goes on until a flushed connection has nothing
// left. False once the connection is broken.
template <typename Handle>
bool handleEvents(xcb_connection_t* c, Handle&& handle) {
    bool handled = true;
    while (handled) {
        xcb_flush(c);
        handled = false;
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            handled = true;
            handle(*event);
            std::free(event);
        }
    }
    return xcb_connection_has_error(c) == 0;
}
// Tells the requestor of `event` where its answer is; XCB_NONE: refused.
void notifyRequestor(xcb_connection_t* c, const xcb_selection_request_event_t& event,
                     xcb_atom_t property);

}  // namespace brimlet::platform::x11
