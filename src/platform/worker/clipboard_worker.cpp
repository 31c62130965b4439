#include "platform/worker/clipboard_worker.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <system_error>
#include <utility>

#include "platform/worker/latin1.h"

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

bool WorkerThread::start(std::function<void()> loop) {
    if (mailbox.fd() < 0) {
        return false;
    }
    try {
        thread_ = std::thread(std::move(loop));
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void WorkerThread::stop() {
    if (thread_.joinable()) {
        mailbox.stop();
        thread_.join();
    }
}

bool OwnedText::hasLatin1() {
    if (!latin1Checked_) {
        latin1Checked_ = true;
        if (text_) {
            if (std::optional<std::string> converted = utf8ToLatin1(text_->bytes())) {
                latin1_ = std::make_shared<const std::string>(std::move(*converted));
            }
        }
    }
    return latin1_ != nullptr;
}

std::optional<Payload> OwnedText::payload(bool latin1) {
    if (!text_) {
        return std::nullopt;
    }
    if (!latin1) {
        // The bytes live in the text's shared representation, which the
        // copy in the payload keeps.
        return Payload{.text = *text_, .latin1 = nullptr, .data = text_->bytes()};
    }
    if (!hasLatin1()) {
        return std::nullopt;
    }
    return Payload{.latin1 = latin1_, .data = *latin1_};
}

}  // namespace brimlet::platform
