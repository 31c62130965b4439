#include "platform/system.h"

#include <QGuiApplication>

#include "platform/qt/qt_pasteboard.h"
#include "platform/qt/qt_scheduling.h"

namespace brimlet::platform {

// Each lives until the process ends; none is torn down after the application.
Pasteboard& generalPasteboard() {
    static auto* const pasteboard = new QtPasteboard(QGuiApplication::clipboard());
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
