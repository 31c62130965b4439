#include "shell/adapters.h"

#include <unistd.h>

#include <QDir>
#include <QGuiApplication>
#include <cstdlib>
#include <memory>

#include "history/clip_store.h"
#include "platform/instance/single_instance.h"
#include "platform/qt/qt_pasteboard.h"
#include "platform/qt/qt_scheduling.h"
#include "platform/wayland/data_control_worker.h"
#include "platform/wayland/virtual_keyboard_paster.h"
#include "platform/wayland/wayland_pasteboard.h"
#include "platform/worker/worker_pasteboard.h"
#include "platform/x11/qt_display.h"
#include "platform/x11/x11_pasteboard.h"
#include "platform/x11/x11_paster.h"

namespace brimlet {
namespace {

using platform::Pasteboard;

bool waylandSession() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return wayland != nullptr && *wayland != '\0';
}

bool qtOnX11() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

// In a Wayland session the compositor's data-control protocol shows every
// copy and serves ours to Wayland and X programs alike, whichever platform
// Qt's windows use. On X11, reading the clipboard means asking its owner,
// and QClipboard waits for the answer on the GUI thread: our X11 adapter
// asks from a thread of its own. Qt's clipboard is the last resort.
std::unique_ptr<Pasteboard> makeGeneralPasteboard() {
    if (waylandSession()) {
        if (auto pasteboard = platform::openWaylandPasteboard()) {
            return pasteboard;
        }
    }
    if (qtOnX11()) {
        const std::string display = platform::x11::qtDisplayName();
        if (auto pasteboard =
                platform::openX11Pasteboard(display.empty() ? nullptr : display.c_str())) {
            return pasteboard;
        }
    }
    return std::make_unique<platform::QtPasteboard>(QGuiApplication::clipboard());
}

// XTEST reaches only X programs, so a Wayland session needs the
// compositor's virtual keyboard.
std::unique_ptr<platform::Paster> makePaster() {
    if (waylandSession()) {
        if (auto paster = platform::wayland::VirtualKeyboardPaster::open(
                nullptr, QCoreApplication::applicationName().toStdString())) {
            return paster;
        }
    } else if (qtOnX11()) {
        const std::string display = platform::x11::qtDisplayName();
        if (auto paster =
                platform::x11::X11Paster::open(display.empty() ? nullptr : display.c_str())) {
            return paster;
        }
    }
    return std::make_unique<platform::NullPaster>();
}

StoreEnvironment systemEnvironment() {
    return {
        .generalPasteboard = &adapters::generalPasteboard,
        .timers = &adapters::mainTimerScheduler(),
        .mainExecutor = &adapters::mainExecutor(),
    };
}

}  // namespace

namespace adapters {

// Each lives until the process ends; none is torn down after the application.
Pasteboard& generalPasteboard() {
    static Pasteboard* const made = makeGeneralPasteboard().release();
    return *made;
}

std::string describeGeneralPasteboard() {
    if (waylandSession()) {
        if (auto protocol = platform::wayland::probeDataControl(nullptr)) {
            return "Wayland " + *protocol;
        }
    }
    return qtOnX11() ? "X11 CLIPBOARD selection" : "Qt clipboard";
}

std::function<bool()> clipboardSettled() {
    if (const auto* worker = dynamic_cast<platform::WorkerPasteboard*>(&generalPasteboard())) {
        return worker->writesSettled();
    }
    return [] { return true; };  // Qt's clipboard is written on the spot
}

platform::Paster& paster() {
    static platform::Paster* const made = makePaster().release();
    return *made;
}

void syncDisplay() {
    platform::x11::syncQtDisplay();
}

std::string describePaster() {
    if (waylandSession()) {
        if (platform::wayland::VirtualKeyboardPaster::offered(nullptr)) {
            return "Wayland zwp_virtual_keyboard_v1";
        }
    } else if (qtOnX11()) {
        const std::string display = platform::x11::qtDisplayName();
        if (platform::x11::X11Paster::offered(display.empty() ? nullptr : display.c_str())) {
            return "XTEST";
        }
    }
    return "not available (a pick is put back and the panel closes)";
}

platform::TimerScheduler& mainTimerScheduler() {
    static platform::QtTimerScheduler scheduler;
    return scheduler;
}

platform::MainExecutor& mainExecutor() {
    static platform::QtMainExecutor executor;
    return executor;
}

QString instanceServerName() {
    const QString platform = QGuiApplication::platformName();
    QString display;
    if (platform == u"xcb") {
        display = QString::fromStdString(platform::x11::qtDisplayName());
        if (display.isEmpty()) {
            display = qEnvironmentVariable("DISPLAY");
        }
    } else if (platform.startsWith(u"wayland")) {
        display = qEnvironmentVariable("WAYLAND_DISPLAY");
    }
    return platform::instanceServerName(::getuid(), platform::sessionKey(platform, display),
                                        qEnvironmentVariable("XDG_RUNTIME_DIR"), QDir::tempPath());
}

}  // namespace adapters

ClipStore& ClipStore::shared() {
    // A function-local static: made once, even when two threads arrive first.
    static const std::shared_ptr<ClipStore> store = make(systemEnvironment());
    return *store;
}

}  // namespace brimlet
