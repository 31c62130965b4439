// Other programs that the desktop benchmarks start: a private Xvfb, the tray
// host, xclip, clipboard owners, the application itself. Plain POSIX, so that
// starting and ending them never runs through (or stalls) a Qt event loop
// that a benchmark is timing. Each is ended by its own process id.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX leaves it undeclared

namespace brimlet::bench {

using Clock = std::chrono::steady_clock;

// The environment of this process with some variables set (a value) or
// removed (no value).
inline std::vector<std::string> environmentWith(
    const std::map<std::string, std::optional<std::string>>& changes) {
    std::vector<std::string> out;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::string name(text.substr(0, text.find('=')));
        if (changes.find(name) == changes.end()) {
            out.emplace_back(text);
        }
    }
    for (const auto& [name, value] : changes) {
        if (value) {
            out.push_back(name + "=" + *value);
        }
    }
    return out;
}

struct Spawned {
    pid_t pid = -1;
    int stdinFd = -1;   // our end of its standard input, when asked for
    int stdoutFd = -1;  // our end of its standard output, when asked for
};

struct SpawnOptions {
    bool pipeStdin = false;
    bool pipeStdout = false;
    // Null: this process's environment.
    const std::vector<std::string>* environment = nullptr;
    // An extra descriptor of ours that the program gets as `childFd`.
    int passFd = -1;
    int childFd = -1;
};

// Starts `argv[0]` (looked up in PATH) with its output discarded unless piped.
inline Spawned spawn(const std::vector<std::string>& argv, const SpawnOptions& options = {}) {
    Spawned out;
    int in[2] = {-1, -1};
    int outPipe[2] = {-1, -1};
    if ((options.pipeStdin && pipe2(in, O_CLOEXEC) != 0) ||
        (options.pipeStdout && pipe2(outPipe, O_CLOEXEC) != 0)) {
        return out;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.pipeStdin) {
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    if (options.pipeStdout) {
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (options.passFd >= 0 && options.passFd != options.childFd) {
        posix_spawn_file_actions_adddup2(&actions, options.passFd, options.childFd);
    }

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> env;
    if (options.environment != nullptr) {
        env.reserve(options.environment->size() + 1);
        for (const std::string& entry : *options.environment) {
            env.push_back(const_cast<char*>(entry.c_str()));
        }
        env.push_back(nullptr);
    }
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(),
                                    options.environment != nullptr ? env.data() : environ);
    posix_spawn_file_actions_destroy(&actions);

    if (options.pipeStdin) {
        close(in[0]);
        out.stdinFd = in[1];
    }
    if (options.pipeStdout) {
        close(outPipe[1]);
        out.stdoutFd = outPipe[0];
    }
    if (failed != 0) {
        if (out.stdinFd >= 0) {
            close(out.stdinFd);
        }
        if (out.stdoutFd >= 0) {
            close(out.stdoutFd);
        }
        return {};
    }
    out.pid = pid;
    return out;
}

// Writes all of `data`; false when the reader went away.
inline bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// One line from `fd`, without its end, or nothing after `timeout`.
inline std::optional<std::string> readLine(int fd, std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    std::string line;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char c = 0;
        const ssize_t n = read(fd, &c, 1);
        if (n <= 0) {
            return std::nullopt;
        }
        if (c == '\n') {
            return line;
        }
        line += c;
    }
}

// True once the process has ended and been reaped.
inline bool reaped(pid_t pid) {
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    return r == pid || (r < 0 && errno == ECHILD);
}

inline bool waitForExit(pid_t pid, std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while (!reaped(pid)) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Asks politely, then insists; always reaps.
inline void stop(pid_t pid) {
    if (pid <= 0 || reaped(pid)) {
        return;
    }
    kill(pid, SIGTERM);
    if (!waitForExit(pid, std::chrono::seconds(3))) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

// A virtual X server of our own; Xvfb picks a free display number and
// reports it on a descriptor.
class XServer {
  public:
    XServer() {
        int report[2] = {-1, -1};
        if (pipe2(report, O_CLOEXEC) != 0) {
            return;
        }
        constexpr int kChildFd = 3;
        // posix_spawn's dup2 to another number clears close-on-exec; to the
        // same number it would not.
        if (report[1] == kChildFd) {
            const int moved = fcntl(report[1], F_DUPFD_CLOEXEC, kChildFd + 1);
            close(report[1]);
            report[1] = moved;
        }
        const Spawned server = spawn({"Xvfb", "-displayfd", std::to_string(kChildFd), "-screen",
                                      "0", "1280x800x24", "-nolisten", "tcp", "-noreset"},
                                     {.passFd = report[1], .childFd = kChildFd});
        close(report[1]);
        pid_ = server.pid;
        if (pid_ > 0) {
            if (auto number = readLine(report[0], std::chrono::seconds(10))) {
                display_ = ":" + *number;
            }
        }
        close(report[0]);
    }
    ~XServer() { stop(pid_); }
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    // ":N", or empty when the server did not start.
    [[nodiscard]] const std::string& display() const { return display_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
};

// The number on the line `key` ("VmRSS:", "Pss:") of a /proc file.
inline std::optional<long> procField(const std::string& path, const std::string& key) {
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.compare(0, key.size(), key) == 0) {
            std::istringstream fields(line.substr(key.size()));
            long value = 0;
            if (fields >> value) {
                return value;
            }
        }
    }
    return std::nullopt;
}

}  // namespace brimlet::bench
