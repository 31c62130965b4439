// The CLIPBOARD selection, read and served on a thread of its own with its
// own X connection, so that a slow, hung or vanished owner never holds up the
// GUI thread. Knows nothing of Qt.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/text.h"

namespace brimlet::platform::x11 {

// What the clipboard held after one change of owner, as far as it could be read.
struct SelectionSnapshot {
    // How many of our own writes the worker had taken in when it read this.
    // A snapshot older than our latest write describes contents we replaced.
    std::uint64_t writeGeneration = 0;
    // Nothing when there is no plain text, the owner is gone, the owner did
    // not answer in time, or it marked the text as a password.
    std::optional<Text> text;
};

struct SelectionLimits {
    // Longest wait for one answer of the owner (a conversion, an INCR chunk).
    std::chrono::milliseconds requestTimeout{2000};
    // Longest time one reading of the clipboard may take altogether.
    std::chrono::milliseconds fetchTimeout{20000};
    // Longer texts are not read: they count as contents without text.
    std::size_t maxTextBytes = std::size_t{64} << 20;
    // A program that stops taking an incremental transfer from us is dropped.
    std::chrono::milliseconds serveTimeout{5000};
};

class SelectionWorker {
  public:
    // Called on the worker thread, once for every change of owner by another
    // program, in order.
    using Deliver = std::function<void(SelectionSnapshot)>;

    // Connects to `displayName` (null: $DISPLAY) and starts the thread, which
    // first reads whatever the clipboard holds now. Null when the display
    // cannot be reached or lacks the XFixes extension.
    static std::unique_ptr<SelectionWorker> start(const char* displayName, Deliver deliver,
                                                  SelectionLimits limits = {});

    SelectionWorker(const SelectionWorker&) = delete;
    SelectionWorker& operator=(const SelectionWorker&) = delete;
    // Stops and joins the thread; gives up the clipboard if we own it.
    ~SelectionWorker();

    // Makes the clipboard ours with `text`, or with no contents at all. Our
    // own ownership is never reported back as a change. Returns at once; any
    // reading under way, and any snapshot older than `generation`, is stale.
    void write(std::optional<Text> text, std::uint64_t generation);

    // False once the connection to the display is lost.
    [[nodiscard]] bool connected() const;

  private:
    class Impl;
    explicit SelectionWorker(std::unique_ptr<Impl> impl);

    std::unique_ptr<Impl> impl_;
};

}  // namespace brimlet::platform::x11
