// Helpers for tests that run against a real X display through Qt.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <functional>

namespace brimlet::testing {

// Tests that drive X use only the private display that tools/test-all starts
// (BRIMLET_TEST_DISPLAY), never the desktop they happen to be run from.
// Returns false, with Qt set to run offscreen, when there is none.
inline bool useTestDisplay() {
    const char* display = std::getenv("BRIMLET_TEST_DISPLAY");
    if (display == nullptr || *display == '\0') {
        unsetenv("DISPLAY");
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        return false;
    }
    setenv("DISPLAY", display, 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    return true;
}

// Runs the event loop until `done` holds or `timeout` passes; true if it held.
// Sleeps between events rather than spinning; a short timer wakes it to look
// at `done` again.
inline bool pumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) {
    QElapsedTimer clock;
    clock.start();
    QTimer wake;
    wake.start(10);
    while (!done()) {
        if (clock.elapsed() > timeout.count()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

inline void pumpFor(std::chrono::milliseconds duration) {
    pumpUntil([] { return false; }, duration);
}

// Runs a program while our own event loop keeps serving the clipboard, which
// the program may be asking us for. Returns its standard output.
inline QByteArray runPumping(const QString& program, const QStringList& arguments,
                             const QByteArray& input = {},
                             std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(5000)) {
        return {};
    }
    if (!input.isNull()) {
        process.write(input);
    }
    process.closeWriteChannel();
    pumpUntil([&] { return process.state() == QProcess::NotRunning; }, timeout);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(1000);
    }
    return process.readAllStandardOutput();
}

}  // namespace brimlet::testing
