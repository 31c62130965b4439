// Clipboard text as read: exact bytes, shared, immutable. Comparisons follow
// Unicode rules through comparison forms ("keys") that are made once per text
// and shared by all its copies; storage and write-back use the bytes alone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace brimlet::platform {

// How a language maps case: Turkish and Azeri pair I with dotless ı and
// dotted İ with i; other languages pair I with i.
enum class CaseRules { Standard, Turkic };

// The rules of ICU's default locale, which follows the user's.
[[nodiscard]] CaseRules defaultCaseRules();

// Keys are linear in the text whatever it holds: before anything else they
// put U+034F COMBINING GRAPHEME JOINER after every 30 non-starters in a row
// (Unicode's Stream-Safe Text Format), so normalisation never reorders more
// than that. Texts that differ only in the order of marks within such a long
// run may therefore count as different.
class Text {
  public:
    Text() = default;
    // Makes the keys at once: the clipboard is read off the GUI thread, so
    // that is where they cost time, not in captures and keystrokes.
    explicit Text(std::string bytes);
    explicit Text(std::string_view bytes) : Text(std::string(bytes)) {}
    explicit Text(const char* bytes) : Text(std::string(bytes)) {}

    // The bytes exactly as read. Usually UTF-8, but any byte sequence is kept.
    [[nodiscard]] std::string_view bytes() const { return rep_ ? rep_->bytes : std::string_view{}; }
    [[nodiscard]] std::size_t size() const { return rep_ ? rep_->bytes.size() : 0; }
    [[nodiscard]] bool empty() const { return size() == 0; }
    // The memory the text holds: its bytes and the keys made with them.
    [[nodiscard]] std::size_t footprint() const { return rep_ ? rep_->footprint : 0; }
    [[nodiscard]] bool isValidUtf8() const { return !rep_ || rep_->validUtf8; }
    // Same storage: copies of one Text share their bytes and keys.
    [[nodiscard]] bool sharesStorageWith(const Text& other) const { return rep_ == other.rep_; }

    // What equality compares: the NFC of the Stream-Safe form, which is the
    // bytes themselves for almost every NFC text. Texts that are not valid
    // UTF-8 are their own key.
    [[nodiscard]] std::string_view equalityKey() const {
        return rep_ ? rep_->equality : std::string_view{};
    }
    // What searches look in: the Stream-Safe form case folded under `rules`,
    // then NFC. Each malformed byte stands as 0xFF, which valid UTF-8 never
    // holds. Made on first use under other rules than the default's.
    [[nodiscard]] std::string_view searchKey(CaseRules rules) const;

    // Canonical equivalence. Byte sequences that are not valid UTF-8 are equal
    // only to the same bytes, so distinct garbage never collapses into one.
    friend bool operator==(const Text& a, const Text& b);

  private:
    struct SearchKey {
        std::once_flag made;
        std::string own;        // empty when `view` shows the equality key
        std::string_view view;  // into this Rep, which never moves
    };
    struct Rep {
        std::string bytes;
        std::string canonical;  // empty when `equality` shows the bytes
        std::string_view equality;
        bool validUtf8 = true;
        std::size_t footprint = 0;
        mutable std::array<SearchKey, 2> search;

        // Made once per rules, from the Stream-Safe form when it is at hand.
        const SearchKey& searchKey(CaseRules rules, std::optional<std::string_view> safe) const;
    };
    std::shared_ptr<const Rep> rep_;
};

// The search key of a query, by the rules of Text::searchKey.
[[nodiscard]] std::string searchKeyOf(std::string_view bytes, CaseRules rules);

// Blank: nothing left after trimming Unicode's White_Space characters (tab,
// U+000A..U+000D, U+0085 and the categories Zs, Zl and Zp) from both ends.
// Invalid bytes and format characters (U+200B) are not blank.
[[nodiscard]] bool isBlank(std::string_view utf8);

// Removes leading and trailing tabs and space separators (Zs); line breaks
// stay.
[[nodiscard]] std::string_view trimSpacesAndTabs(std::string_view utf8);

[[nodiscard]] bool isAscii(std::string_view bytes);
// Well-formed UTF-8: no overlong forms, surrogates or truncated sequences.
[[nodiscard]] bool isValidUtf8(std::string_view bytes);

// Decodes the code point at `pos` and moves past it. A malformed sequence
// (overlong, surrogate, truncated, out of range) gives -1 and skips one byte.
[[nodiscard]] std::int32_t decodeUtf8(std::string_view s, std::size_t& pos);

// Pieces of the key rules, open to tests that check them against ICU for
// every code point.
namespace text_detail {

// Non-starters (canonical combining class above 0) at the start and at the
// end of a code point's full compatibility decomposition; `all` when it holds
// no starter, and then `leading` is its length.
struct NonStarters {
    int leading = 0;
    int trailing = 0;
    bool all = false;
    friend bool operator==(const NonStarters&, const NonStarters&) = default;
};
[[nodiscard]] NonStarters nonStarters(char32_t c);

// U+0345 and the precomposed Greek letters that hold it: the one case where
// folding before decomposing gives another result.
[[nodiscard]] bool needsDecompositionBeforeFolding(char32_t c);

}  // namespace text_detail
}  // namespace brimlet::platform
