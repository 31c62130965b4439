#include "platform/system.h"

#include <QGuiApplication>
#include <string>

#include "platform/qt/qt_pasteboard.h"
#include "platform/qt/qt_scheduling.h"
#include "platform/x11/qt_display.h"
#include "platform/x11/x11_pasteboard.h"

namespace brimlet::platform {
namespace {

// On X11 reading the clipboard means asking its owner, and QClipboard waits
// for the answer on the GUI thread: an owner that never answers freezes the
// application for seconds on every poll. The X11 adapter asks from a thread
// of its own. Elsewhere (Wayland, offscreen) Qt's clipboard stays; so it
// does if our own connection to the display cannot be made.
Pasteboard* makeGeneralPasteboard() {
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        const std::string display = x11::qtDisplayName();
        if (auto pasteboard = X11Pasteboard::open(display.empty() ? nullptr : display.c_str())) {
            return pasteboard.release();
        }
    }
    return new QtPasteboard(QGuiApplication::clipboard());
}

}  // namespace

// Each lives until the process ends; none is torn down after the application.
Pasteboard& generalPasteboard() {
    static Pasteboard* const pasteboard = makeGeneralPasteboard();
    return *pasteboard;
}

TimerScheduler& mainTimerScheduler() {
    static QtTimerScheduler scheduler;
    return scheduler;
}

MainExecutor& mainExecutor() {
    static QtMainExecutor executor;
    return executor;
}

}  // namespace brimlet::platform
