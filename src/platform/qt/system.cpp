#include "platform/system.h"

#include <QGuiApplication>
#include <cstdlib>
#include <string>

#include "platform/qt/qt_pasteboard.h"
#include "platform/qt/qt_scheduling.h"
#include "platform/wayland/data_control_worker.h"
#include "platform/wayland/wayland_pasteboard.h"
#include "platform/x11/qt_display.h"
#include "platform/x11/x11_pasteboard.h"

namespace brimlet::platform {
namespace {

struct Clipboard {
    Pasteboard* pasteboard = nullptr;
    std::string description;
};

// In a Wayland session the compositor's data-control protocol shows every
// copy and serves ours to Wayland and X programs alike, whichever platform
// Qt's windows use. On X11, reading the clipboard means asking its owner,
// and QClipboard waits for the answer on the GUI thread: our X11 adapter
// asks from a thread of its own. Qt's clipboard is the last resort.
Clipboard makeGeneralPasteboard() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland != nullptr && *wayland != '\0') {
        if (auto pasteboard = openWaylandPasteboard()) {
            std::string description = pasteboard->description();
            return {pasteboard.release(), std::move(description)};
        }
    }
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        const std::string display = x11::qtDisplayName();
        if (auto pasteboard = openX11Pasteboard(display.empty() ? nullptr : display.c_str())) {
            std::string description = pasteboard->description();
            return {pasteboard.release(), std::move(description)};
        }
    }
    return {new QtPasteboard(QGuiApplication::clipboard()), "Qt clipboard"};
}

const Clipboard& clipboard() {
    static const Clipboard made = makeGeneralPasteboard();
    return made;
}

}  // namespace

// Each lives until the process ends; none is torn down after the application.
Pasteboard& generalPasteboard() {
    return *clipboard().pasteboard;
}

const std::string& generalPasteboardDescription() {
    return clipboard().description;
}

std::string describeGeneralPasteboard() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland != nullptr && *wayland != '\0') {
        if (auto protocol = wayland::probeDataControl(nullptr)) {
            return "Wayland " + *protocol;
        }
    }
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        return "X11 CLIPBOARD selection";
    }
    return "Qt clipboard";
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
