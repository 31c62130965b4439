#include "platform/text.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/normalizers.h"

namespace brimlet::platform {
namespace {

const icu::Normalizer2& nfc() {
    return nfcNormalizer();
}

bool normalizedNfc(std::string_view s) {
    UErrorCode status = U_ZERO_ERROR;
    const bool result =
        nfc().isNormalizedUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())), status);
    return U_SUCCESS(status) && result;
}

// The code point that ends at `end`, moving `end` to its start; invalid
// bytes give -1 and step back one byte.
std::int32_t decodeBefore(std::string_view s, std::size_t& end) {
    std::size_t start = end - 1;
    while (start > 0 && end - start < 4 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) {
        --start;
    }
    std::size_t next = start;
    const std::int32_t c = decodeUtf8(s, next);
    if (c < 0 || next != end) {
        --end;
        return -1;
    }
    end = start;
    return c;
}

// The NFC form of a valid UTF-8 text, produced a piece at a time. Pieces end
// where normalisation cannot reach across, so their forms concatenate to the
// form of the whole.
class NfcPieces {
  public:
    NfcPieces(std::string_view text, bool normalise) : text_(text), normalise_(normalise) {}

    // What is produced but not consumed yet; empty only at the end.
    std::string_view available() {
        if (pending_.size() == consumed_) {
            produce();
        }
        return std::string_view(pending_).substr(consumed_);
    }
    void consume(std::size_t n) { consumed_ += n; }

  private:
    void produce() {
        pending_.clear();
        consumed_ = 0;
        if (pos_ >= text_.size()) {
            return;
        }
        constexpr std::size_t kPiece = 4096;
        std::size_t end = std::min(text_.size(), pos_ + kPiece);
        while (end < text_.size()) {
            std::size_t next = end;
            // Skip to the next code point that starts a fresh normalisation run.
            while (next < text_.size() &&
                   (static_cast<unsigned char>(text_[next]) & 0xC0) == 0x80) {
                ++next;
            }
            if (next >= text_.size()) {
                end = next;
                break;
            }
            std::size_t after = next;
            const std::int32_t c = decodeUtf8(text_, after);
            if (c >= 0 && nfc().hasBoundaryBefore(c)) {
                end = next;
                break;
            }
            end = after;
        }
        const std::string_view piece = text_.substr(pos_, end - pos_);
        pos_ = end;
        if (!normalise_) {
            pending_.assign(piece);
            return;
        }
        icu::StringByteSink<std::string> sink(&pending_);
        UErrorCode status = U_ZERO_ERROR;
        nfc().normalizeUTF8(0, icu::StringPiece(piece.data(), static_cast<int32_t>(piece.size())),
                            sink, nullptr, status);
        if (U_FAILURE(status)) {
            pending_.assign(piece);
        }
    }

    std::string_view text_;
    bool normalise_;
    std::size_t pos_ = 0;
    std::string pending_;
    std::size_t consumed_ = 0;
};

template <typename Pred>
std::string_view trim(std::string_view s, Pred inSet) {
    std::size_t begin = 0;
    while (begin < s.size()) {
        std::size_t next = begin;
        const std::int32_t c = decodeUtf8(s, next);
        if (c < 0 || !inSet(static_cast<char32_t>(c))) {
            break;
        }
        begin = next;
    }
    std::size_t end = s.size();
    while (end > begin) {
        std::size_t prev = end;
        const std::int32_t c = decodeBefore(s, prev);
        if (c < 0 || !inSet(static_cast<char32_t>(c))) {
            break;
        }
        end = prev;
    }
    return s.substr(begin, end - begin);
}

}  // namespace

Text::Text(std::string bytes) {
    auto rep = std::make_shared<Rep>();
    if (isAscii(bytes)) {
        rep->validUtf8 = true;
        rep->nfc = true;
    } else {
        rep->validUtf8 = platform::isValidUtf8(bytes);
        rep->nfc = rep->validUtf8 && normalizedNfc(bytes);
    }
    rep->bytes = std::move(bytes);
    rep_ = std::move(rep);
}

bool operator==(const Text& a, const Text& b) {
    if (a.rep_ == b.rep_ || a.bytes() == b.bytes()) {
        return true;
    }
    if (!a.isValidUtf8() || !b.isValidUtf8()) {
        return false;
    }
    // NFC is unique per equivalence class: two distinct NFC texts differ.
    if (a.isNfc() && b.isNfc()) {
        return false;
    }
    // Normalise piece by piece and stop at the first difference, so texts
    // that differ early cost little however long they are.
    NfcPieces left(a.bytes(), !a.isNfc());
    NfcPieces right(b.bytes(), !b.isNfc());
    for (;;) {
        const std::string_view l = left.available();
        const std::string_view r = right.available();
        if (l.empty() || r.empty()) {
            return l.empty() && r.empty();
        }
        const std::size_t n = std::min(l.size(), r.size());
        if (l.substr(0, n) != r.substr(0, n)) {
            return false;
        }
        left.consume(n);
        right.consume(n);
    }
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
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    std::size_t length = 0;
    std::int32_t c = 0;
    std::int32_t min = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, c = lead & 0x1F, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, c = lead & 0x0F, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, c = lead & 0x07, min = 0x10000;
    } else {
        ++pos;
        return -1;
    }
    if (s.size() - pos < length) {
        ++pos;
        return -1;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char next = byte(pos + k);
        if ((next & 0xC0) != 0x80) {
            ++pos;
            return -1;
        }
        c = (c << 6) | (next & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++pos;
        return -1;
    }
    pos += length;
    return c;
}

bool isWhitespaceOrNewline(char32_t c) {
    if (c == U'\t' || (c >= 0x0A && c <= 0x0D) || c == 0x85) {
        return true;
    }
    if (c < 0x80) {
        return c == U' ';
    }
    const auto type = u_charType(static_cast<UChar32>(c));
    return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

bool isSpaceOrTab(char32_t c) {
    if (c < 0x80) {
        return c == U' ' || c == U'\t';
    }
    return u_charType(static_cast<UChar32>(c)) == U_SPACE_SEPARATOR;
}

bool isBlank(std::string_view utf8) {
    return trim(utf8, isWhitespaceOrNewline).empty();
}

std::string_view trimSpacesAndTabs(std::string_view utf8) {
    return trim(utf8, isSpaceOrTab);
}

std::string toNfc(std::string_view utf8) {
    if (isAscii(utf8) || !isValidUtf8(utf8)) {
        return std::string(utf8);
    }
    std::string out;
    out.reserve(utf8.size());
    icu::StringByteSink<std::string> sink(&out);
    UErrorCode status = U_ZERO_ERROR;
    nfc().normalizeUTF8(0, icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())), sink,
                        nullptr, status);
    if (U_FAILURE(status)) {
        return std::string(utf8);
    }
    return out;
}

namespace {

const icu::Normalizer2& checked(const icu::Normalizer2* normalizer, UErrorCode status) {
    if (U_FAILURE(status) || normalizer == nullptr) {
        std::abort();
    }
    return *normalizer;
}

}  // namespace

const icu::Normalizer2& nfcNormalizer() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
    return checked(normalizer, status);
}

const icu::Normalizer2& nfdNormalizer() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFDInstance(status);
    return checked(normalizer, status);
}

}  // namespace brimlet::platform
