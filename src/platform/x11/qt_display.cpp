#include "platform/x11/qt_display.h"

#include <QtGui/qguiapplication_platform.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <QGuiApplication>
#include <cstdlib>

// Last: Xlib's macros clash with Qt's names.
#include <X11/Xlib.h>

namespace brimlet::platform::x11 {

std::string qtDisplayName() {
    const auto* x11 = qGuiApp != nullptr
                          ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                          : nullptr;
    Display* const display = x11 != nullptr ? x11->display() : nullptr;
    if (display == nullptr) {
        return {};
    }
    const char* name = XDisplayString(display);
    return name != nullptr ? std::string(name) : std::string();
}

void syncQtDisplay() {
    const auto* x11 = qGuiApp != nullptr
                          ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                          : nullptr;
    xcb_connection_t* const c = x11 != nullptr ? x11->connection() : nullptr;
    if (c == nullptr) {
        return;
    }
    // Qt's own thread reads the connection too, so look for the reply in
    // short sleeps rather than waiting on the socket; at most 100 ms.
    const xcb_get_input_focus_cookie_t cookie = xcb_get_input_focus(c);
    xcb_flush(c);
    for (int slept = 0; slept < 100; ++slept) {
        void* reply = nullptr;
        xcb_generic_error_t* error = nullptr;
        if (xcb_poll_for_reply(c, cookie.sequence, &reply, &error) != 0 ||
            xcb_connection_has_error(c) != 0) {
            std::free(reply);
            std::free(error);
            return;
        }
        ::usleep(1000);
    }
    xcb_discard_reply(c, cookie.sequence);
}

}  // namespace brimlet::platform::x11
