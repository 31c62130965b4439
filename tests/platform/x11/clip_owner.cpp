// Takes the CLIPBOARD and serves it the way a test needs:
//   brimlet_clip_owner normal TEXT         serves TEXT as UTF8_STRING
//   brimlet_clip_owner hung TEXT           takes the clipboard and never answers
//   brimlet_clip_owner late TEXT MS        serves TEXT, each answer MS milliseconds late
//   brimlet_clip_owner secret TEXT [HINT]  also offers x-kde-passwordManagerHint with
//                                          the value HINT (default "secret")
//   brimlet_clip_owner untargeted TEXT     the same, but answers no TARGETS
//   brimlet_clip_owner integer TEXT        answers UTF8_STRING with an INTEGER of TEXT's bytes
//   brimlet_clip_owner flood COUNT [MS]    takes it COUNT times, serving "flood 0", "flood 1",
//                                          ..., MS milliseconds apart (default: back to back)
//   brimlet_clip_owner flap COUNT [MS]     takes it and gives it up COUNT times: no text
//   brimlet_clip_owner manager NAME        holds CLIPBOARD_MANAGER instead, until it loses it
// Prints "ready"
// once it owns the clipboard (flood and flap: once the storm is over); exits
// when it loses it (except when hung; flap exits at once). Like a program on
// Xlib's default error handler (xclip is one), it dies on any X error, with
// exit status 3.
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

xcb_atom_t intern(xcb_connection_t* c, std::string_view name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.data()), nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : XCB_NONE;
    std::free(reply);
    return atom;
}

class Owner {
  public:
    Owner(xcb_connection_t* c, std::string_view mode) : c_(c), mode_(mode) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        for (xcb_window_t& window : windows_) {
            window = xcb_generate_id(c);
            xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        }
        // A "manager" holds CLIPBOARD_MANAGER instead, as another clipboard
        // manager would.
        clipboard_ = intern(c, mode == "manager" ? "CLIPBOARD_MANAGER" : "CLIPBOARD");
        targets_ = intern(c, "TARGETS");
        utf8_ = intern(c, "UTF8_STRING");
        hint_ = intern(c, "x-kde-passwordManagerHint");
    }

    std::string data;
    std::string hintValue = "secret";
    std::chrono::milliseconds lateBy{0};

    // Takes the clipboard, from the other of our two windows each time, so
    // that every take is a change of owner.
    void take() {
        current_ = windows_[taken_++ % 2];
        xcb_set_selection_owner(c_, current_, clipboard_, XCB_CURRENT_TIME);
        xcb_flush(c_);
    }
    void giveUp() {
        xcb_set_selection_owner(c_, XCB_NONE, clipboard_, XCB_CURRENT_TIME);
        xcb_flush(c_);
    }
    // Serves requests until `deadline`; false once the clipboard is lost.
    bool serveUntil(Clock::time_point deadline) {
        while (true) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
                const bool keep = handle(*event);
                std::free(event);
                xcb_flush(c_);
                if (!keep) {
                    return false;
                }
            }
            if (xcb_connection_has_error(c_) != 0) {
                return false;
            }
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                return true;
            }
            pollfd fd{xcb_get_file_descriptor(c_), POLLIN, 0};
            ::poll(&fd, 1, static_cast<int>(std::min<long>(left, 1000)));
        }
    }

  private:
    bool handle(const xcb_generic_event_t& event) {
        const int type = event.response_type & 0x7F;
        if (type == 0) {
            const auto& error = reinterpret_cast<const xcb_generic_error_t&>(event);
            std::fprintf(stderr, "X error %d on request %d\n", error.error_code, error.major_code);
            std::exit(3);
        }
        if (type == XCB_SELECTION_CLEAR) {
            const auto& clear = reinterpret_cast<const xcb_selection_clear_event_t&>(event);
            // During a flood our other window's loss is our own doing.
            return clear.owner != current_;
        }
        if (type == XCB_SELECTION_REQUEST) {
            request(reinterpret_cast<const xcb_selection_request_event_t&>(event));
        }
        return true;
    }

    // Checked, so that an error shows before any later event.
    void put(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, std::uint8_t format,
             std::uint32_t length, const void* value) {
        xcb_generic_error_t* error = xcb_request_check(
            c_, xcb_change_property_checked(c_, XCB_PROP_MODE_REPLACE, window, property, type,
                                            format, length, value));
        if (error != nullptr) {
            handle(*reinterpret_cast<const xcb_generic_event_t*>(error));
        }
    }

    void request(const xcb_selection_request_event_t& request) {
        if (mode_ == "late") {
            std::this_thread::sleep_for(lateBy);
        }
        const xcb_atom_t property =
            request.property == XCB_NONE ? request.target : request.property;
        const bool secret = mode_ == "secret" || mode_ == "untargeted";
        bool served = true;
        if (request.target == targets_ && mode_ != "untargeted") {
            std::vector<xcb_atom_t> offered{targets_, utf8_};
            if (secret) {
                offered.push_back(hint_);
            }
            put(request.requestor, property, XCB_ATOM_ATOM, 32,
                static_cast<std::uint32_t>(offered.size()), offered.data());
        } else if (request.target == hint_ && secret) {
            put(request.requestor, property, XCB_ATOM_STRING, 8,
                static_cast<std::uint32_t>(hintValue.size()), hintValue.data());
        } else if (request.target == utf8_) {
            put(request.requestor, property,
                mode_ == "integer" ? xcb_atom_t{XCB_ATOM_INTEGER} : utf8_, 8,
                static_cast<std::uint32_t>(data.size()), data.data());
        } else {
            served = false;
        }
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request.time;
        notify.requestor = request.requestor;
        notify.selection = request.selection;
        notify.target = request.target;
        notify.property = served ? property : XCB_NONE;
        xcb_send_event(c_, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&notify));
    }

    xcb_connection_t* c_;
    std::string_view mode_;
    xcb_window_t windows_[2] = {};
    xcb_window_t current_ = XCB_NONE;
    unsigned taken_ = 0;
    xcb_atom_t clipboard_, targets_, utf8_, hint_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fputs("usage: brimlet_clip_owner MODE TEXT|COUNT [HINT|MS] (see its source)\n",
                   stderr);
        return 2;
    }
    const std::string_view mode = argv[1];
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c) != 0) {
        return 1;
    }
    Owner owner(c, mode);
    if (mode == "flood" || mode == "flap") {
        const long count = std::strtol(argv[2], nullptr, 10);
        const auto apart = std::chrono::milliseconds(argc == 4 ? std::atol(argv[3]) : 0);
        Clock::time_point next = Clock::now();
        for (long i = 0; i < count; ++i) {
            owner.data = "flood " + std::to_string(i);
            owner.take();
            if (mode == "flap") {
                owner.giveUp();
            }
            next += apart;
            owner.serveUntil(next);
        }
    } else {
        owner.data = argv[2];
        if (argc == 4 && mode == "late") {
            owner.lateBy = std::chrono::milliseconds(std::atol(argv[3]));
        } else if (argc == 4) {
            owner.hintValue = argv[3];
        }
        owner.take();
    }
    // A round trip, so that we own the clipboard (or the storm is over)
    // before we say so.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    std::puts("ready");
    std::fflush(stdout);
    while (mode == "hung") {
        pause();
    }
    while (mode != "flap" && owner.serveUntil(Clock::now() + std::chrono::hours(1))) {
    }
    xcb_disconnect(c);
    return 0;
}
