// Ending Brimlet from outside the way "Quit" does: SIGTERM, SIGINT and SIGHUP
// end the event loop in order, so that everything is torn down (the instance
// socket removed) and the status is 0. The handler only writes a byte to a
// pipe; the GUI thread reads it through a socket notifier, since no Qt call
// is safe inside a signal handler.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace brimlet::platform::ui {

class QuitSignals {
  public:
    // `quit` runs on the GUI thread, once per signal received. One at a time.
    explicit QuitSignals(std::function<void()> quit);
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;
    // Puts the default handlers back.
    ~QuitSignals();

  private:
    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> quit_;
};

}  // namespace brimlet::platform::ui
