// The large text that brimlet_clip_owner serves in "large" mode.
#pragma once

#include <cstddef>
#include <string>

namespace brimlet::x11test {

inline std::string clipPattern(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = i % 61 == 60 ? '\n' : static_cast<char>('a' + i % 26);
    }
    return text;
}

}  // namespace brimlet::x11test
