// The system-wide clipboard as the history sees it: a change counter and a
// plain text, which can be cleared and written.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/core/text.h"

namespace brimlet::platform {

class Pasteboard {
  public:
    virtual ~Pasteboard() = default;

    // Moves on every change of the contents, our own writes included. Only
    // equality matters to callers. Never blocks.
    [[nodiscard]] virtual std::int64_t changeCount() const = 0;
    // The plain text, or nothing when the contents have none.
    [[nodiscard]] virtual std::optional<Text> string() const = 0;
    // Drops all contents; returns the new change count.
    virtual std::int64_t clearContents() = 0;
    // Puts a plain text on the clipboard; false when the system refused it.
    virtual bool setString(const Text& text) = 0;
};

}  // namespace brimlet::platform
