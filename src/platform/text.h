// Clipboard text as read: exact bytes, shared, immutable. Comparisons follow
// Unicode rules; storage and write-back never alter the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace brimlet::platform {

class Text {
  public:
    Text() = default;
    explicit Text(std::string bytes);
    explicit Text(std::string_view bytes) : Text(std::string(bytes)) {}
    explicit Text(const char* bytes) : Text(std::string(bytes)) {}

    // The bytes exactly as read. Usually UTF-8, but any byte sequence is kept.
    [[nodiscard]] std::string_view bytes() const { return rep_ ? rep_->bytes : std::string_view{}; }
    [[nodiscard]] std::size_t size() const { return rep_ ? rep_->bytes.size() : 0; }
    [[nodiscard]] bool empty() const { return size() == 0; }
    [[nodiscard]] bool isValidUtf8() const { return !rep_ || rep_->validUtf8; }
    // True when the text is known to be in Normalization Form C.
    [[nodiscard]] bool isNfc() const { return !rep_ || rep_->nfc; }
    // Same storage: copies of one Text share their bytes.
    [[nodiscard]] bool sharesStorageWith(const Text& other) const { return rep_ == other.rep_; }

    // Canonical equivalence. Byte sequences that are not valid UTF-8 are equal
    // only to the same bytes, so distinct garbage never collapses into one.
    friend bool operator==(const Text& a, const Text& b);

  private:
    struct Rep {
        std::string bytes;
        bool validUtf8 = true;
        bool nfc = true;
    };
    std::shared_ptr<const Rep> rep_;
};

// Blank: nothing left after trimming tab, U+000A..U+000D, U+0085 and every
// character of categories Zs, Zl and Zp from both ends. Invalid bytes and
// other format characters (U+200B) are not blank.
[[nodiscard]] bool isBlank(std::string_view utf8);

// True for the whitespace-and-newline set above.
[[nodiscard]] bool isWhitespaceOrNewline(char32_t c);
// True for tab and the space separators (Zs). Line breaks are not included.
[[nodiscard]] bool isSpaceOrTab(char32_t c);

// Removes leading and trailing spaces and tabs (isSpaceOrTab).
[[nodiscard]] std::string_view trimSpacesAndTabs(std::string_view utf8);

[[nodiscard]] bool isAscii(std::string_view bytes);
// Well-formed UTF-8: no overlong forms, surrogates or truncated sequences.
[[nodiscard]] bool isValidUtf8(std::string_view bytes);

// Decodes the code point at `pos` and moves past it. A malformed sequence
// (overlong, surrogate, truncated, out of range) gives -1 and skips one byte.
[[nodiscard]] std::int32_t decodeUtf8(std::string_view s, std::size_t& pos);

// NFC form of valid UTF-8; invalid input is returned unchanged.
[[nodiscard]] std::string toNfc(std::string_view utf8);

}  // namespace brimlet::platform
