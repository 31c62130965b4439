// Driving other X clients (xclip, brimlet_clip_owner) from a test while the
// GUI thread's event loop keeps running.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace brimlet::x11test {

// Runs the event loop until `done` holds or `timeout` passes; true if it held.
// The loop sleeps between events; a short timer makes it look again.
inline bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    QElapsedTimer clock;
    clock.start();
    QTimer wake;
    wake.start(5);
    while (!done()) {
        if (clock.elapsed() > timeout.count()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

inline void pumpFor(std::chrono::milliseconds duration) {
    pumpUntil([] { return false; }, duration);
}

// The programs a test starts; whatever still runs is killed at the end.
class Programs {
  public:
    Programs() = default;
    Programs(const Programs&) = delete;
    Programs& operator=(const Programs&) = delete;
    ~Programs() { killAll(); }

    QProcess& start(const QString& program, const QStringList& arguments,
                    const QByteArray& input = {}) {
        auto& process = *processes_.emplace_back(std::make_unique<QProcess>());
        process.start(program, arguments);
        process.waitForStarted(5000);
        if (!input.isEmpty()) {
            process.write(input);
        }
        process.closeWriteChannel();
        return process;
    }

    static void kill(QProcess& process) {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    void killAll() {
        for (const auto& process : processes_) {
            kill(*process);
        }
        processes_.clear();
    }

  private:
    std::vector<std::unique_ptr<QProcess>> processes_;
};

}  // namespace brimlet::x11test
