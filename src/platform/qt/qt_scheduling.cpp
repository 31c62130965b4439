#include "platform/qt/qt_scheduling.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <chrono>

namespace brimlet::platform {
namespace {

class QtRepeatingTimer final : public RepeatingTimer {
  public:
    QtRepeatingTimer(QTimer* timer, Seconds interval) : timer_(timer), interval_(interval) {}
    [[nodiscard]] Seconds interval() const override { return interval_; }

  private:
    QPointer<QTimer> timer_;
    Seconds interval_;
};

}  // namespace

std::shared_ptr<RepeatingTimer> QtTimerScheduler::scheduleRepeating(Seconds interval,
                                                                    std::function<void()> action) {
    // Owned by the application object, like a run loop owns its timers.
    auto* timer = new QTimer(QCoreApplication::instance());
    timer->setInterval(std::chrono::duration_cast<std::chrono::milliseconds>(interval));
    QObject::connect(timer, &QTimer::timeout, timer, std::move(action));
    timer->start();
    return std::make_shared<QtRepeatingTimer>(timer, interval);
}

void QtMainExecutor::post(std::function<void()> task) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
}

}  // namespace brimlet::platform
