#include "platform/wayland/pipes.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <iterator>

namespace brimlet::platform::wayland {

PipeReading::PipeReading(int fd, const TransferLimits& limits)
    : fd_(fd),
      limits_(limits),
      stepDeadline_(Clock::now() + limits.requestTimeout),
      deadline_(Clock::now() + limits.fetchTimeout) {}

PipeReading::~PipeReading() {
    ::close(fd_);
}

PipeReading::Status PipeReading::read() {
    std::array<char, 65536> buffer{};
    while (true) {
        const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
        if (got > 0) {
            if (bytes_.size() + static_cast<std::size_t>(got) > limits_.maxTextBytes) {
                return Status::Failed;
            }
            bytes_.append(buffer.data(), static_cast<std::size_t>(got));
            stepDeadline_ = Clock::now() + limits_.requestTimeout;
            continue;
        }
        if (got == 0) {
            return Status::Done;
        }
        if (errno != EINTR) {
            return errno == EAGAIN ? Status::More : Status::Failed;
        }
    }
}

bool PipeReading::expired(Clock::time_point now) const {
    return now >= stepDeadline_ || now >= deadline_;
}

void PipeReading::considerDeadlines(NextDeadline& next) const {
    next.consider(stepDeadline_);
    next.consider(deadline_);
}

PipeWriters::~PipeWriters() {
    for (const Transfer& transfer : transfers_) {
        ::close(transfer.fd);
    }
}

void PipeWriters::add(int fd, Payload payload) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    transfers_.push_back(Transfer{
        .fd = fd, .payload = std::move(payload), .deadline = Clock::now() + limits_.serveTimeout});
    write(std::prev(transfers_.end()));
}

void PipeWriters::write(std::vector<Transfer>::iterator transfer) {
    constexpr std::size_t kPiece = 65536;
    const std::string_view data = transfer->payload.data;
    while (transfer->offset < data.size()) {
        const std::size_t size = std::min(kPiece, data.size() - transfer->offset);
        const ssize_t written = ::write(transfer->fd, data.data() + transfer->offset, size);
        if (written > 0) {
            transfer->offset += static_cast<std::size_t>(written);
            transfer->deadline = Clock::now() + limits_.serveTimeout;
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && errno == EAGAIN) {
            return;  // the reader is behind; poll says when it takes more
        }
        break;  // the reader went away
    }
    ::close(transfer->fd);
    transfers_.erase(transfer);
}

void PipeWriters::appendPollFds(std::vector<pollfd>& fds) const {
    for (const Transfer& transfer : transfers_) {
        fds.push_back({transfer.fd, POLLOUT, 0});
    }
}

void PipeWriters::writable(const std::vector<int>& fds) {
    for (const int fd : fds) {
        const auto it = std::find_if(transfers_.begin(), transfers_.end(),
                                     [fd](const Transfer& t) { return t.fd == fd; });
        if (it != transfers_.end()) {
            write(it);
        }
    }
}

void PipeWriters::expire(Clock::time_point now) {
    std::erase_if(transfers_, [now](const Transfer& transfer) {
        if (now < transfer.deadline) {
            return false;
        }
        ::close(transfer.fd);
        return true;
    });
}

void PipeWriters::considerDeadlines(NextDeadline& next) const {
    for (const Transfer& transfer : transfers_) {
        next.consider(transfer.deadline);
    }
}

}  // namespace brimlet::platform::wayland
