// What a clipboard worker thread hands to the GUI thread, and the bounds it
// keeps when it talks to other programs. Knows nothing of Qt or any display.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

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

}  // namespace brimlet::platform
