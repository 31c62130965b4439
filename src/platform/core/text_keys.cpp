#include "platform/core/text_keys.h"

#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/core/text.h"

namespace brimlet::platform {
namespace {

// The Stream-Safe Text Format's longest run of non-starters.
constexpr int kMaxNonStarters = 30;
constexpr std::string_view kGraphemeJoiner = "\u034f";
// Stands for each malformed byte in a search key: never part of valid UTF-8,
// so no query can match across it.
constexpr char kMalformed = '\xff';
// Valid text goes to ICU in pieces of about this size, cut where nothing
// reaches across, so its buffers stay small however long the text is.
constexpr std::size_t kPiece = std::size_t{1} << 16;

}  // namespace

icu::StringPiece stringPiece(std::string_view s) {
    return {s.data(), static_cast<int32_t>(s.size())};
}

namespace {

// A piece may end before `pos`: normalisation and case mapping never reach
// across a character with a canonical boundary before it.
bool cutsAt(std::string_view s, std::size_t pos) {
    if (pos >= s.size() || static_cast<unsigned char>(s[pos]) < 0x80) {
        return true;
    }
    const std::int32_t c = decodeUtf8(s, pos);
    return c < 0 || nfcNormalizer().hasBoundaryBefore(c);
}

// The Stream-Safe process: puts U+034F in wherever a character would make a
// run of non-starters longer than allowed. False, with `buffer` empty, when
// `s` needs none. Malformed bytes end a run.
bool putJoiners(std::string_view s, std::string& buffer) {
    buffer.clear();
    std::size_t copied = 0;
    int run = 0;
    std::size_t pos = 0;
    while (pos < s.size()) {
        if (static_cast<unsigned char>(s[pos]) < 0x80) {
            run = 0;
            ++pos;
            continue;
        }
        const std::size_t at = pos;
        const std::int32_t c = decodeUtf8(s, pos);
        if (c < 0) {
            run = 0;
            continue;
        }
        const text_detail::NonStarters n = text_detail::nonStarters(static_cast<char32_t>(c));
        if (run + n.leading > kMaxNonStarters) {
            buffer.append(s.substr(copied, at - copied));
            buffer += kGraphemeJoiner;
            copied = at;
            run = 0;
        }
        run = n.all ? run + n.leading : n.trailing;
    }
    if (buffer.empty()) {
        return false;
    }
    buffer.append(s.substr(copied));
    return true;
}

// U+0345 is CD 85; U+1F80..U+1FFF are E1 BE xx and E1 BF xx.
bool mayNeedDecompositionBeforeFolding(std::string_view s) {
    for (std::size_t at = 0; (at = s.find('\xcd', at)) != std::string_view::npos; ++at) {
        if (at + 1 < s.size() && s[at + 1] == '\x85') {
            return true;
        }
    }
    for (std::size_t at = 0; (at = s.find('\xe1', at)) != std::string_view::npos; ++at) {
        if (at + 1 < s.size() && (s[at + 1] == '\xbe' || s[at + 1] == '\xbf')) {
            return true;
        }
    }
    return false;
}

// Makes one key of any bytes in Stream-Safe form, piece by piece.
class KeyMaker {
  public:
    explicit KeyMaker(KeyForm form) : form_(form) {}

    void append(std::string_view s, std::string& out) {
        if (isAscii(s)) {
            appendAscii(s, out);
            return;
        }
        std::size_t pos = 0;
        while (pos < s.size()) {
            std::size_t end = pos;
            while (end < s.size() && (end - pos < kPiece || !cutsAt(s, end))) {
                std::size_t next = end;
                if (static_cast<unsigned char>(s[end]) < 0x80) {
                    ++next;
                } else if (decodeUtf8(s, next) < 0) {
                    break;
                }
                end = next;
            }
            if (end == pos) {
                out += kMalformed;
                ++pos;
                continue;
            }
            appendValid(s.substr(pos, end - pos), out);
            pos = end;
        }
    }

  private:
    void appendAscii(std::string_view run, std::string& out) const {
        if (form_ == KeyForm::Canonical) {
            out.append(run);
            return;
        }
        out.reserve(out.size() + run.size());
        for (const char c : run) {
            if (c >= 'A' && c <= 'Z') {
                if (c == 'I' && form_ == KeyForm::FoldedTurkic) {
                    out += "\u0131";
                } else {
                    out += static_cast<char>(c + ('a' - 'A'));
                }
            } else {
                out += c;
            }
        }
    }

    void appendValid(std::string_view piece, std::string& out) {
        if (isAscii(piece)) {
            appendAscii(piece, out);
            return;
        }
        const std::size_t mark = out.size();
        UErrorCode status = U_ZERO_ERROR;
        std::string_view source = piece;
        if (form_ != KeyForm::Canonical) {
            // Turkic lower-casing looks at I + U+0307, so it needs the
            // decomposed form as well.
            if (form_ == KeyForm::FoldedTurkic || mayNeedDecompositionBeforeFolding(source)) {
                source = run(source, decomposed_, status,
                             [](icu::StringPiece in, auto& sink, UErrorCode& error) {
                                 nfdNormalizer().normalizeUTF8(0, in, sink, nullptr, error);
                             });
            }
            if (form_ == KeyForm::FoldedTurkic) {
                source = run(source, lowered_, status,
                             [](icu::StringPiece in, auto& sink, UErrorCode& error) {
                                 icu::CaseMap::utf8ToLower("tr", 0, in, sink, nullptr, error);
                             });
            }
            const uint32_t options = form_ == KeyForm::FoldedTurkic ? U_FOLD_CASE_EXCLUDE_SPECIAL_I
                                                                    : U_FOLD_CASE_DEFAULT;
            source = run(source, folded_, status,
                         [options](icu::StringPiece in, auto& sink, UErrorCode& error) {
                             icu::CaseMap::utf8Fold(options, in, sink, nullptr, error);
                         });
        }
        icu::StringByteSink<std::string> sink(&out);
        nfcNormalizer().normalizeUTF8(0, stringPiece(source), sink, nullptr, status);
        if (U_FAILURE(status)) {
            // Only a failed allocation gets here; the bytes are the best left.
            out.resize(mark);
            out.append(piece);
        }
    }

    template <typename Step>
    static std::string_view run(std::string_view in, std::string& buffer, UErrorCode& status,
                                Step step) {
        buffer.clear();
        icu::StringByteSink<std::string> sink(&buffer);
        step(stringPiece(in), sink, status);
        return buffer;
    }

    KeyForm form_;
    std::string decomposed_;
    std::string lowered_;
    std::string folded_;
};

}  // namespace

std::string_view streamSafe(std::string_view s, std::string& buffer) {
    return putJoiners(s, buffer) ? std::string_view(buffer) : s;
}

KeyForm foldedUnder(CaseRules rules) {
    return rules == CaseRules::Turkic ? KeyForm::FoldedTurkic : KeyForm::Folded;
}

std::string makeKey(std::string_view safe, KeyForm form) {
    std::string key;
    key.reserve(safe.size());
    KeyMaker(form).append(safe, key);
    key.shrink_to_fit();
    return key;
}

namespace text_detail {

NonStarters nonStarters(char32_t c) {
    const auto cp = static_cast<UChar32>(c);
    const icu::Normalizer2& nfkd = nfkdNormalizer();
    // Most text: starters that no normalisation touches, and Hangul
    // syllables, which decompose into starters.
    if (c < 0x80 || (c >= 0xAC00 && c <= 0xD7A3) || nfkd.isInert(cp)) {
        return {};
    }
    if (u_getIntPropertyValue(cp, UCHAR_DECOMPOSITION_TYPE) == U_DT_NONE) {
        // Combining marks, mostly.
        if (u_getCombiningClass(cp) == 0) {
            return {};
        }
        return {1, 1, true};
    }
    icu::UnicodeString decomposition;
    if (!nfkd.getDecomposition(cp, decomposition)) {
        decomposition.setTo(cp);
    }
    NonStarters n;
    int run = 0;
    bool starter = false;
    for (int32_t i = 0; i < decomposition.length(); i = decomposition.moveIndex32(i, 1)) {
        if (nfkd.getCombiningClass(decomposition.char32At(i)) != 0) {
            ++run;
            continue;
        }
        if (!starter) {
            n.leading = run;
        }
        starter = true;
        run = 0;
    }
    n.all = !starter;
    if (n.all) {
        n.leading = run;
    }
    n.trailing = run;
    return n;
}

bool needsDecompositionBeforeFolding(char32_t c) {
    return c == 0x0345 || (c >= 0x1F80 && c <= 0x1FFF);
}

}  // namespace text_detail

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

const icu::Normalizer2& nfkdNormalizer() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFKDInstance(status);
    return checked(normalizer, status);
}

}  // namespace brimlet::platform
