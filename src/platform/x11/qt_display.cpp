#include "platform/x11/qt_display.h"

#include <QtGui/qguiapplication_platform.h>

#include <QGuiApplication>

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

}  // namespace brimlet::platform::x11
