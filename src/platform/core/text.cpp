#include "platform/core/text.h"

#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/core/normalizers.h"

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

std::atomic<std::uint64_t> gKeysMade{0};

icu::StringPiece stringPiece(std::string_view s) {
    return {s.data(), static_cast<int32_t>(s.size())};
}

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

// `s` in Stream-Safe form, in `buffer` if that needed joiners.
std::string_view streamSafe(std::string_view s, std::string& buffer) {
    return putJoiners(s, buffer) ? std::string_view(buffer) : s;
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

enum class Form { Canonical, Folded, FoldedTurkic };

Form foldedUnder(CaseRules rules) {
    return rules == CaseRules::Turkic ? Form::FoldedTurkic : Form::Folded;
}

// Makes one key of any bytes in Stream-Safe form, piece by piece.
class KeyMaker {
  public:
    explicit KeyMaker(Form form) : form_(form) {}

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
        if (form_ == Form::Canonical) {
            out.append(run);
            return;
        }
        out.reserve(out.size() + run.size());
        for (const char c : run) {
            if (c >= 'A' && c <= 'Z') {
                if (c == 'I' && form_ == Form::FoldedTurkic) {
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
        if (form_ != Form::Canonical) {
            // Turkic lower-casing looks at I + U+0307, so it needs the
            // decomposed form as well.
            if (form_ == Form::FoldedTurkic || mayNeedDecompositionBeforeFolding(source)) {
                source = run(source, decomposed_, status,
                             [](icu::StringPiece in, auto& sink, UErrorCode& error) {
                                 nfdNormalizer().normalizeUTF8(0, in, sink, nullptr, error);
                             });
            }
            if (form_ == Form::FoldedTurkic) {
                source = run(source, lowered_, status,
                             [](icu::StringPiece in, auto& sink, UErrorCode& error) {
                                 icu::CaseMap::utf8ToLower("tr", 0, in, sink, nullptr, error);
                             });
            }
            const uint32_t options =
                form_ == Form::FoldedTurkic ? U_FOLD_CASE_EXCLUDE_SPECIAL_I : U_FOLD_CASE_DEFAULT;
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

    Form form_;
    std::string decomposed_;
    std::string lowered_;
    std::string folded_;
};

std::string makeKey(std::string_view safe, Form form) {
    gKeysMade.fetch_add(1, std::memory_order_relaxed);
    std::string key;
    key.reserve(safe.size());
    KeyMaker(form).append(safe, key);
    key.shrink_to_fit();
    return key;
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
            rep->canonical = makeKey(safe, Form::Canonical);
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

std::uint64_t keysMade() {
    return gKeysMade.load(std::memory_order_relaxed);
}

}  // namespace text_detail

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
