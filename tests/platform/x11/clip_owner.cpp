// Takes the CLIPBOARD and serves it the way a test needs:
//   brimlet_clip_owner normal TEXT   serves TEXT as UTF8_STRING
//   brimlet_clip_owner hung TEXT     takes the clipboard and never answers
//   brimlet_clip_owner secret TEXT   also offers x-kde-passwordManagerHint "secret"
//   brimlet_clip_owner large BYTES   serves BYTES bytes of clipPattern
// Texts above 64 KiB go out incrementally in 64 KiB chunks. Prints "ready"
// once it owns the clipboard; exits when it loses it (except when hung).
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "clip_pattern.h"

namespace {

constexpr std::size_t kChunk = std::size_t{64} << 10;

xcb_atom_t intern(xcb_connection_t* c, std::string_view name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.data()), nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : XCB_NONE;
    std::free(reply);
    return atom;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s normal|hung|secret|large TEXT|BYTES\n", argv[0]);
        return 2;
    }
    const std::string_view mode = argv[1];
    const std::string data =
        mode == "large" ? brimlet::x11test::clipPattern(std::strtoull(argv[2], nullptr, 10))
                        : std::string(argv[2]);

    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c) != 0) {
        return 1;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t clipboard = intern(c, "CLIPBOARD");
    const xcb_atom_t targets = intern(c, "TARGETS");
    const xcb_atom_t utf8 = intern(c, "UTF8_STRING");
    const xcb_atom_t incr = intern(c, "INCR");
    const xcb_atom_t hint = intern(c, "x-kde-passwordManagerHint");

    // The server stamps the ownership with its current time.
    xcb_set_selection_owner(c, window, clipboard, XCB_CURRENT_TIME);
    // A round trip, so that we own the clipboard before we say so.
    std::free(xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr));
    std::puts("ready");
    std::fflush(stdout);

    if (mode == "hung") {
        for (;;) {
            pause();
        }
    }

    // One incremental transfer at a time is all the tests need.
    xcb_window_t incrRequestor = XCB_NONE;
    xcb_atom_t incrProperty = XCB_NONE;
    std::size_t incrOffset = 0;

    while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
        const int type = event->response_type & 0x7F;
        if (type == XCB_SELECTION_CLEAR) {
            std::free(event);
            break;
        }
        if (type == XCB_SELECTION_REQUEST) {
            const auto* request = reinterpret_cast<xcb_selection_request_event_t*>(event);
            const xcb_atom_t property =
                request->property == XCB_NONE ? request->target : request->property;
            bool served = true;
            if (request->target == targets) {
                std::vector<xcb_atom_t> offered{targets, utf8};
                if (mode == "secret") {
                    offered.push_back(hint);
                }
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request->requestor, property,
                                    XCB_ATOM_ATOM, 32, static_cast<std::uint32_t>(offered.size()),
                                    offered.data());
            } else if (request->target == hint && mode == "secret") {
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request->requestor, property,
                                    XCB_ATOM_STRING, 8, 6, "secret");
            } else if (request->target == utf8 && data.size() <= kChunk) {
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request->requestor, property, utf8, 8,
                                    static_cast<std::uint32_t>(data.size()), data.data());
            } else if (request->target == utf8) {
                const std::uint32_t watch = XCB_EVENT_MASK_PROPERTY_CHANGE;
                xcb_change_window_attributes(c, request->requestor, XCB_CW_EVENT_MASK, &watch);
                const auto size = static_cast<std::uint32_t>(data.size());
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request->requestor, property, incr,
                                    32, 1, &size);
                incrRequestor = request->requestor;
                incrProperty = property;
                incrOffset = 0;
            } else {
                served = false;
            }
            xcb_selection_notify_event_t notify{};
            notify.response_type = XCB_SELECTION_NOTIFY;
            notify.time = request->time;
            notify.requestor = request->requestor;
            notify.selection = request->selection;
            notify.target = request->target;
            notify.property = served ? property : XCB_NONE;
            xcb_send_event(c, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT,
                           reinterpret_cast<const char*>(&notify));
        } else if (type == XCB_PROPERTY_NOTIFY) {
            const auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event);
            if (notify->window == incrRequestor && notify->atom == incrProperty &&
                notify->state == XCB_PROPERTY_DELETE) {
                const std::size_t size = std::min(kChunk, data.size() - incrOffset);
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, incrRequestor, incrProperty, utf8, 8,
                                    static_cast<std::uint32_t>(size), data.data() + incrOffset);
                incrOffset += size;
                if (size == 0) {
                    incrRequestor = XCB_NONE;
                }
            }
        }
        std::free(event);
        xcb_flush(c);
    }
    xcb_disconnect(c);
    return 0;
}
