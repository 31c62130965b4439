#include "platform/worker/clipboard_worker.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <utility>

namespace brimlet::platform {

WorkerMailbox::WorkerMailbox() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WorkerMailbox::~WorkerMailbox() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void WorkerMailbox::post(Write write) {
    {
        const std::lock_guard lock(mutex_);
        incoming_ = std::move(write);
    }
    wake();
}

void WorkerMailbox::stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake();
}

bool WorkerMailbox::take(std::optional<Write>& write) {
    const std::lock_guard lock(mutex_);
    write = std::exchange(incoming_, std::nullopt);
    return !stopping_;
}

void WorkerMailbox::drain() const {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(fd_, &count, sizeof count);
}

void WorkerMailbox::wake() const {
    const std::uint64_t one = 1;
    // A full counter already means a pending wake-up.
    [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof one);
}

}  // namespace brimlet::platform
