// Long test texts made of one piece.
#pragma once

#include <string>
#include <string_view>

namespace brimlet::testing {

inline std::string repeat(std::string_view piece, std::size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

}  // namespace brimlet::testing
