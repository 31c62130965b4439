// Any bytes as a clipboard text: it equals itself and its NFC form (made by
// ICU), and a search for a piece of it cut where a match may start and end
// finds it. The Stream-Safe limit is the one documented exception: where
// either form needed joiners, NFC may differ.
#include <unicode/bytestream.h>

#include <cstdint>
#include <string>

#include "panel/search_filter.h"
#include "platform/core/text_keys.h"

namespace {

using brimlet::platform::Text;
namespace platform = brimlet::platform;

bool streamSafeAsIs(std::string_view s) {
    std::string buffer;
    return platform::streamSafe(s, buffer).size() == s.size();
}

bool matchMayEndBefore(std::string_view s, std::size_t at) {
    if (at == 0 || at >= s.size()) {
        return true;
    }
    const std::int32_t c = platform::decodeUtf8(s, at);
    return c < 0 || brimlet::search_detail::startsCluster(static_cast<char32_t>(c));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
    const Text text(bytes);
    if (text.bytes() != bytes || !(text == Text(std::string(bytes)))) {
        __builtin_trap();
    }
    if (platform::isValidUtf8(bytes) && streamSafeAsIs(bytes)) {
        UErrorCode status = U_ZERO_ERROR;
        std::string nfc;
        icu::StringByteSink<std::string> sink(&nfc);
        platform::nfcNormalizer().normalizeUTF8(0, platform::stringPiece(bytes), sink, nullptr,
                                                status);
        if (U_FAILURE(status) || (streamSafeAsIs(nfc) && !(Text(nfc) == text))) {
            __builtin_trap();
        }
    }
    // The first two bytes choose the piece.
    const std::size_t from = data[0] * bytes.size() / 255;
    const std::size_t length = data[1] * (bytes.size() - from) / 255;
    const std::string_view piece = platform::trimSpacesAndTabs(bytes.substr(from, length));
    const auto at = static_cast<std::size_t>(piece.data() - bytes.data());
    if (!piece.empty() && streamSafeAsIs(bytes) && matchMayEndBefore(bytes, at) &&
        matchMayEndBefore(bytes, at + piece.size()) &&
        brimlet::filterItems({{brimlet::Uuid{}, text}}, piece).empty()) {
        __builtin_trap();
    }
    return 0;
}
