#include "platform/worker/latin1.h"

#include <cstddef>

namespace brimlet::platform {

std::string latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return out;
}

std::optional<std::string> utf8ToLatin1(std::string_view utf8) {
    // U+0080..U+00FF are exactly C2 or C3 and one continuation byte; any
    // other lead byte is a character beyond Latin-1 or not UTF-8 at all.
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte < 0x80) {
            out.push_back(utf8[i]);
            continue;
        }
        if ((byte != 0xC2 && byte != 0xC3) || i + 1 == utf8.size()) {
            return std::nullopt;
        }
        const auto next = static_cast<unsigned char>(utf8[++i]);
        if ((next & 0xC0) != 0x80) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(((byte & 0x03) << 6) | (next & 0x3F)));
    }
    return out;
}

}  // namespace brimlet::platform
