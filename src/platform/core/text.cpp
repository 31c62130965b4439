#include "platform/core/text.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

#include "platform/core/text_keys.h"

namespace brimlet::platform {
namespace {

const std::uint8_t* bytesOf(std::string_view s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

// The code point that ends at `end`, moving `end` to its start, or -1 when
// the bytes before `end` are malformed. ICU takes 32-bit offsets, so it sees
// only the last four bytes, all that one code point can take.
std::int32_t decodeBefore(std::string_view s, std::size_t& end) {
    const std::size_t window = std::min<std::size_t>(end, 4);
    auto i = static_cast<std::int32_t>(window);
    UChar32 c = 0;
    U8_PREV(bytesOf(s) + (end - window), 0, i, c);
    end -= window - static_cast<std::size_t>(i);
    return c;
}

std::string_view trim(std::string_view s, UBool (*inSet)(UChar32)) {
    std::size_t begin = 0;
    while (begin < s.size()) {
        std::size_t next = begin;
        const std::int32_t c = decodeUtf8(s, next);
        if (c < 0 || !inSet(c)) {
            break;
        }
        begin = next;
    }
    std::size_t end = s.size();
    while (end > begin) {
        std::size_t prev = end;
        const std::int32_t c = decodeBefore(s, prev);
        if (c < 0 || !inSet(c)) {
            break;
        }
        end = prev;
    }
    return s.substr(begin, end - begin);
}

}  // namespace

CaseRules defaultCaseRules() {
    const std::string_view language = icu::Locale::getDefault().getLanguage();
    const bool turkic =
        language == "tr" || language == "az" || language == "tur" || language == "aze";
    return turkic ? CaseRules::Turkic : CaseRules::Standard;
}

Text::Text(std::string bytes) {
    auto rep = std::make_shared<Rep>();
    rep->bytes = std::move(bytes);
    const std::string_view s = rep->bytes;
    rep->equality = s;
    const bool ascii = isAscii(s);
    std::string buffer;
    const std::string_view safe = ascii ? s : streamSafe(s, buffer);
    if (!ascii) {
        rep->validUtf8 = platform::isValidUtf8(s);
        // Only Stream-Safe text goes to ICU: checking a long run of marks
        // for NFC would sort it.
        UErrorCode status = U_ZERO_ERROR;
        const bool ownKey = rep->validUtf8 && safe.data() == s.data() &&
                            nfcNormalizer().isNormalizedUTF8(stringPiece(s), status) &&
                            U_SUCCESS(status);
        if (rep->validUtf8 && !ownKey) {
            rep->canonical = makeKey(safe, KeyForm::Canonical);
            rep->equality = rep->canonical;
        }
    }
    const SearchKey& search = rep->searchKey(defaultCaseRules(), safe);
    rep->footprint = rep->bytes.size() + rep->canonical.size() + search.own.size();
    rep_ = std::move(rep);
}

const Text::SearchKey& Text::Rep::searchKey(CaseRules rules,
                                            std::optional<std::string_view> safe) const {
    SearchKey& slot = search[rules == CaseRules::Turkic ? 1 : 0];
    std::call_once(slot.made, [&] {
        std::string buffer;
        std::string key = makeKey(safe ? *safe : streamSafe(bytes, buffer), foldedUnder(rules));
        if (key == equality) {
            slot.view = equality;
        } else {
            slot.own = std::move(key);
            slot.view = slot.own;
        }
    });
    return slot;
}

std::string_view Text::searchKey(CaseRules rules) const {
    if (!rep_) {
        return {};
    }
    return rep_->searchKey(rules, std::nullopt).view;
}

std::string searchKeyOf(std::string_view bytes, CaseRules rules) {
    std::string buffer;
    return makeKey(streamSafe(bytes, buffer), foldedUnder(rules));
}

bool operator==(const Text& a, const Text& b) {
    if (a.rep_ == b.rep_) {
        return true;
    }
    if (!a.isValidUtf8() || !b.isValidUtf8()) {
        return a.bytes() == b.bytes();
    }
    return a.equalityKey() == b.equalityKey();
}

bool isAscii(std::string_view s) {
    // Eight bytes at a time; whole texts go through here.
    std::uint64_t any = 0;
    std::size_t i = 0;
    for (; i + 32 <= s.size(); i += 32) {
        std::array<std::uint64_t, 4> words{};
        std::memcpy(words.data(), s.data() + i, sizeof words);
        any |= words[0] | words[1] | words[2] | words[3];
        if ((any & 0x8080808080808080ULL) != 0) {
            return false;
        }
    }
    for (; i < s.size(); ++i) {
        any |= static_cast<unsigned char>(s[i]);
    }
    return (any & 0x8080808080808080ULL) == 0;
}

bool isValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        if (static_cast<unsigned char>(s[i]) < 0x80) {
            ++i;
        } else if (decodeUtf8(s, i) < 0) {
            return false;
        }
    }
    return true;
}

std::int32_t decodeUtf8(std::string_view s, std::size_t& pos) {
    const std::size_t start = pos;
    UChar32 c = 0;
    U8_NEXT(bytesOf(s), pos, s.size(), c);
    if (c < 0) {
        // ICU skips the whole truncated sequence; callers step over
        // malformed input a byte at a time.
        pos = start + 1;
    }
    return c;
}

bool isBlank(std::string_view utf8) {
    return trim(utf8, u_isUWhiteSpace).empty();
}

std::string_view trimSpacesAndTabs(std::string_view utf8) {
    return trim(utf8, u_isblank);
}

}  // namespace brimlet::platform
