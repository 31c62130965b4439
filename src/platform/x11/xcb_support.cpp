#include "platform/x11/xcb_support.h"

#include <array>
#include <string_view>

namespace brimlet::platform::x11 {

std::optional<Atoms> internAtoms(xcb_connection_t* c) {
    Atoms atoms;
    const std::array<std::pair<std::string_view, xcb_atom_t*>, 11> names{{
        {"CLIPBOARD", &atoms.clipboard},
        {"TARGETS", &atoms.targets},
        {"TIMESTAMP", &atoms.timestamp},
        {"INCR", &atoms.incr},
        {"UTF8_STRING", &atoms.utf8String},
        {"text/plain;charset=utf-8", &atoms.textPlainUtf8},
        {"x-kde-passwordManagerHint", &atoms.passwordHint},
        {"BRIMLET_SELECTION", &atoms.fetchProperty},
        {"BRIMLET_TIME_PROBE", &atoms.timeProbe},
        {"CLIPBOARD_MANAGER", &atoms.clipboardManager},
        {"SAVE_TARGETS", &atoms.saveTargets},
    }};
    // All requests first, then all replies: one round trip.
    std::array<xcb_intern_atom_cookie_t, names.size()> cookies{};
    for (std::size_t i = 0; i < names.size(); ++i) {
        cookies[i] = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(names[i].first.size()),
                                     names[i].first.data());
    }
    bool ok = true;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookies[i], nullptr));
        ok = ok && reply;
        *names[i].second = reply ? reply->atom : XCB_NONE;
    }
    return ok ? std::optional<Atoms>(atoms) : std::nullopt;
}

xcb_window_t makeWindow(xcb_connection_t* c, xcb_window_t root) {
    const xcb_window_t window = xcb_generate_id(c);
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, root, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                      &mask);
    return window;
}

xcb_window_t selectionOwner(xcb_connection_t* c, xcb_atom_t selection) {
    const Reply<xcb_get_selection_owner_reply_t> reply(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
    return reply ? reply->owner : XCB_NONE;
}

void notifyRequestor(xcb_connection_t* c, const xcb_selection_request_event_t& event,
                     xcb_atom_t property) {
    xcb_selection_notify_event_t notify{};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = event.time;
    notify.requestor = event.requestor;
    notify.selection = event.selection;
    notify.target = event.target;
    notify.property = property;
    xcb_send_event(c, 0, event.requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&notify));
}

}  // namespace brimlet::platform::x11
