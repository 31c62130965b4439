// A clipboard read and served by a thread of its own: what it hands to the
// GUI thread, the bounds it keeps when it talks to other programs, and what
// the GUI thread asks of it. Knows nothing of Qt or any display.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/text.h"

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

class ClipboardWorker {
  public:
    // Called on the worker thread, once for every change by another
    // program, in order.
    using Deliver = std::function<void(SelectionSnapshot)>;

    ClipboardWorker() = default;
    ClipboardWorker(const ClipboardWorker&) = delete;
    ClipboardWorker& operator=(const ClipboardWorker&) = delete;
    // Stops and joins the thread.
    virtual ~ClipboardWorker() = default;

    // Makes the clipboard ours with `text`, or with no text at all. Our own
    // contents are never reported back as a change. Returns at once; any
    // reading under way, and any snapshot older than `generation`, is stale.
    virtual void write(std::optional<Text> text, std::uint64_t generation) = 0;
    // False once the connection to the display is lost.
    [[nodiscard]] virtual bool connected() const = 0;
    // Which clipboard this is, in a few words for the user.
    [[nodiscard]] virtual std::string describe() const = 0;
};

}  // namespace brimlet::platform
