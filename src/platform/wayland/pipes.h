// The pipes a data-control clipboard moves texts through: one reading of
// another program's offer, and our own text on its way to its readers.
// Neither ever blocks the worker; both keep the bounds of TransferLimits.
#pragma once

#include <poll.h>

#include <string>
#include <vector>

#include "platform/worker/clipboard_worker.h"

namespace brimlet::platform::wayland {

using Clock = std::chrono::steady_clock;

class PipeReading {
  public:
    enum class Status { More, Done, Failed };

    // Takes over `fd`, the read end of a non-blocking pipe.
    PipeReading(int fd, const TransferLimits& limits);
    PipeReading(const PipeReading&) = delete;
    PipeReading& operator=(const PipeReading&) = delete;
    ~PipeReading();

    [[nodiscard]] int fd() const { return fd_; }
    // Takes what the pipe holds: Done at its end, Failed when the text is
    // larger than we take or the pipe broke.
    Status read();
    [[nodiscard]] std::string take() { return std::move(bytes_); }
    [[nodiscard]] bool expired(Clock::time_point now) const;
    void considerDeadlines(NextDeadline& next) const;

  private:
    int fd_;
    TransferLimits limits_;
    std::string bytes_;
    Clock::time_point stepDeadline_;
    Clock::time_point deadline_;
};

class PipeWriters {
  public:
    explicit PipeWriters(const TransferLimits& limits) : limits_(limits) {}
    PipeWriters(const PipeWriters&) = delete;
    PipeWriters& operator=(const PipeWriters&) = delete;
    ~PipeWriters();

    // Takes over `fd`, the write end of a reader's pipe, and writes what it
    // takes at once; the rest when pollFds() says it takes more.
    void add(int fd, Payload payload);
    void appendPollFds(std::vector<pollfd>& fds) const;
    // After poll: `fds` are the writable ones.
    void writable(const std::vector<int>& fds);
    // A reader that stopped reading is dropped.
    void expire(Clock::time_point now);
    void considerDeadlines(NextDeadline& next) const;

  private:
    struct Transfer {
        int fd = -1;
        Payload payload;
        std::size_t offset = 0;
        Clock::time_point deadline{};
    };

    void write(std::vector<Transfer>::iterator transfer);

    TransferLimits limits_;
    std::vector<Transfer> transfers_;
};

}  // namespace brimlet::platform::wayland
