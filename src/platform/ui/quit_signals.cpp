#include "platform/ui/quit_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <utility>

namespace brimlet::platform::ui {
namespace {

constexpr std::array kSignals = {SIGTERM, SIGINT, SIGHUP};

// Written only by the signal handler, set before any handler is installed.
volatile sig_atomic_t gWakeFd = -1;

void onSignal(int /*signal*/) {
    const int saved = errno;
    const char byte = 1;
    // A full pipe already holds a pending quit.
    [[maybe_unused]] const ssize_t written = ::write(gWakeFd, &byte, 1);
    errno = saved;
}

void install(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) {
        ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace

QuitSignals::QuitSignals(std::function<void()> quit) : quit_(std::move(quit)) {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;  // the signals keep their default: the process ends at once
    }
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        char bytes[16];
        while (::read(pipe_[0], bytes, sizeof bytes) > 0) {
        }
        quit_();
    });
    gWakeFd = pipe_[1];
    install(onSignal);
}

QuitSignals::~QuitSignals() {
    if (!notifier_) {
        return;
    }
    install(SIG_DFL);
    gWakeFd = -1;
    notifier_.reset();
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

}  // namespace brimlet::platform::ui
