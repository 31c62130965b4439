// A clipboard read and served by a thread of its own: what it hands to the
// GUI thread, the bounds it keeps when it talks to other programs, and what
// the GUI thread asks of it. Knows nothing of Qt or any display.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/core/text.h"

namespace brimlet::platform {

// What the clipboard held after one change by another program, as far as it
// could be read.
struct SelectionSnapshot {
    // How many of our own writes the worker had taken in when it read this.
    // A snapshot older than our latest write describes contents we replaced.
    std::uint64_t writeGeneration = 0;
    // Nothing when there is no plain text, the owner is gone, the owner did
    // not answer in time, or it marked the text as a password.
    std::optional<Text> text;
};

struct TransferLimits {
    // Longest wait for the owner's next piece of data.
    std::chrono::milliseconds requestTimeout{2000};
    // Longest time one reading of the clipboard may take altogether.
    std::chrono::milliseconds fetchTimeout{20000};
    // Longer texts are not read: they count as contents without text.
    std::size_t maxTextBytes = std::size_t{64} << 20;
    // A program that stops taking our text is dropped after this long.
    std::chrono::milliseconds serveTimeout{5000};
};

// The earliest of a worker's deadlines, as poll(2) wants it.
class NextDeadline {
  public:
    using Clock = std::chrono::steady_clock;

    void consider(Clock::time_point deadline) {
        if (!next_ || deadline < *next_) {
            next_ = deadline;
        }
    }
    // Milliseconds from `now`, rounded up and at most a minute; -1 for none.
    [[nodiscard]] int pollTimeout(Clock::time_point now) const {
        if (!next_) {
            return -1;
        }
        if (*next_ <= now) {
            return 0;
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next_ - now);
        return static_cast<int>(std::min<std::chrono::milliseconds::rep>(wait.count(), 60'000));
    }

  private:
    std::optional<Clock::time_point> next_;
};

// What the GUI thread hands a worker thread: the latest of our own writes,
// and the stop. Posting wakes the worker, which polls fd() beside its
// connection to the display.
class WorkerMailbox {
  public:
    struct Write {
        std::optional<Text> text;
        std::uint64_t generation = 0;
    };

    // fd() is negative when the wake-up descriptor could not be made.
    WorkerMailbox();
    WorkerMailbox(const WorkerMailbox&) = delete;
    WorkerMailbox& operator=(const WorkerMailbox&) = delete;
    ~WorkerMailbox();

    [[nodiscard]] int fd() const { return fd_; }
    // From the GUI thread; a later write replaces one not yet taken.
    void post(Write write);
    void stop();
    // On the worker: false once stopped, else the write waiting, if any.
    [[nodiscard]] bool take(std::optional<Write>& write);
    // On the worker, when poll found fd() readable.
    void drain() const;

  private:
    void wake() const;

    std::mutex mutex_;
    std::optional<Write> incoming_;
    bool stopping_ = false;
    int fd_;
};

// The thread a worker's loop runs on, and what it shares with the GUI thread.
class WorkerThread {
  public:
    WorkerThread() = default;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    ~WorkerThread() { stop(); }

    // Runs `loop` on a thread of its own; false when neither the thread nor
    // its wake-up could be made.
    [[nodiscard]] bool start(std::function<void()> loop);
    // Stops and joins the loop; its owner calls this before the state the
    // loop works on goes.
    void stop();

    WorkerMailbox mailbox;
    // Cleared by the loop once its connection is lost.
    std::atomic<bool> connected{true};
    // Set by the loop once it has gone through with a write of ours.
    std::atomic<std::uint64_t> settled{0};

  private:
    std::thread thread_;
};

// Bytes on their way to a reader, kept alive until they are written.
struct Payload {
    Text text{};
    std::shared_ptr<const std::string> latin1{};
    std::string_view data;
};

// Our own clipboard contents as a worker serves them; the ISO 8859-1 form is
// made when a reader first needs it.
class OwnedText {
  public:
    explicit OwnedText(std::optional<Text> text) : text_(std::move(text)) {}

    [[nodiscard]] const std::optional<Text>& text() const { return text_; }
    [[nodiscard]] bool hasLatin1();
    // The text as UTF-8 or as ISO 8859-1; nothing when there is no text or
    // it has no such form.
    [[nodiscard]] std::optional<Payload> payload(bool latin1);

  private:
    std::optional<Text> text_;
    bool latin1Checked_ = false;
    std::shared_ptr<const std::string> latin1_;
};

// A clipboard whose loop runs on its own WorkerThread. Each kind stops the
// thread in its destructor, before the state the loop works on goes.
class ClipboardWorker {
  public:
    // Called on the worker thread, once for every change by another
    // program, in order.
    using Deliver = std::function<void(SelectionSnapshot)>;

    ClipboardWorker() = default;
    ClipboardWorker(const ClipboardWorker&) = delete;
    ClipboardWorker& operator=(const ClipboardWorker&) = delete;
    virtual ~ClipboardWorker() = default;

    // Makes the clipboard ours with `text`, or with no text at all. Our own
    // contents are never reported back as a change. Returns at once; any
    // reading under way, and any snapshot older than `generation`, is stale.
    void write(std::optional<Text> text, std::uint64_t generation) {
        thread_.mailbox.post({std::move(text), generation});
    }
    // False once the connection to the display is lost.
    [[nodiscard]] bool connected() const { return thread_.connected; }
    // The generation of our latest write that the loop has gone through
    // with: the clipboard was ours with it, or another program's after it.
    // Any thread may ask.
    [[nodiscard]] std::uint64_t settledGeneration() const { return thread_.settled; }

  protected:
    WorkerThread& thread() { return thread_; }

  private:
    WorkerThread thread_;
};

}  // namespace brimlet::platform
