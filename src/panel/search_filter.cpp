#include "panel/search_filter.h"

#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/utypes.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/normalizers.h"
#include "platform/text.h"

// How matching works. Both sides are brought to one comparison form, the
// "key": canonical decomposition, full case folding (after Turkish/Azeri
// lower-casing in those locales, so that I/ı and İ/i pair up), then NFC. A
// text contains the query when the query's key occurs in the text's key
// without ending before (or starting on) a combining mark. Folding keeps
// accents and the full-width forms apart, which is what the panel wants. A
// collator search (usearch) was not used: at secondary strength it ignores
// width as well as case, at tertiary it keeps case, and it skips ignorable
// characters such as U+00AD, so none of its settings gives "case only".
//
// Texts are turned into keys chunk by chunk, cut where normalisation cannot
// reach across, and searched as they are produced, so an early match stops
// the work. ASCII queries first scan the raw bytes; that answer is only taken
// when it provably equals the key search (see asciiScan).

namespace brimlet {
namespace search_detail {
namespace {

using platform::decodeUtf8;

const icu::Normalizer2& nfc() {
    return platform::nfcNormalizer();
}
const icu::Normalizer2& nfd() {
    return platform::nfdNormalizer();
}

constexpr std::size_t npos = std::string_view::npos;

// Stands for each malformed byte in a key: never part of valid UTF-8, so no
// query key can match across it.
constexpr char kMalformed = '\xff';

constexpr std::array<char32_t, 16> kFoldsTowardAscii = {
    0x00DF, 0x0130, 0x0149, 0x017F, 0x037E, 0x1E9A, 0x1E9E, 0x1FEF,
    0x212A, 0xFB00, 0xFB01, 0xFB02, 0xFB03, 0xFB04, 0xFB05, 0xFB06,
};

// UTF-8 lead bytes of kFoldsTowardAscii, so the scan for them can skip the
// rest of the text cheaply.
constexpr std::array<bool, 256> kHazardLeads = [] {
    std::array<bool, 256> leads{};
    for (const char32_t c : kFoldsTowardAscii) {
        const std::size_t lead = c < 0x800 ? 0xC0 | (c >> 6) : 0xE0 | (c >> 12);
        leads[lead] = true;
    }
    return leads;
}();

// hasFoldingHazard tests these leads sixteen at a time.
static_assert([] {
    for (std::size_t b = 0; b < 256; ++b) {
        const bool listed =
            (b >= 0xC3 && b <= 0xC5) || b == 0xCD || b == 0xE1 || b == 0xE2 || b == 0xEF;
        if (kHazardLeads[b] != listed) {
            return false;
        }
    }
    return true;
}());

constexpr unsigned char asciiLower(unsigned char b) {
    return b >= 'A' && b <= 'Z' ? static_cast<unsigned char>(b + ('a' - 'A')) : b;
}

// memmem: linear, and much faster than string_view::find when the needle's
// first byte is common (UTF-8 lead bytes of one script).
std::size_t findBytes(std::string_view hay, std::string_view needle, std::size_t from = 0) {
    if (from > hay.size()) {
        return npos;
    }
    const void* hit = memmem(hay.data() + from, hay.size() - from, needle.data(), needle.size());
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - hay.data()) : npos;
}

std::size_t findByte(std::string_view hay, unsigned char byte, std::size_t from) {
    if (from >= hay.size()) {
        return npos;
    }
    const void* hit = std::memchr(hay.data() + from, byte, hay.size() - from);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - hay.data()) : npos;
}

bool turkicDefaultLocale() {
    const std::string_view language = icu::Locale::getDefault().getLanguage();
    return language == "tr" || language == "az" || language == "tur" || language == "aze";
}

// Safe place to cut a text into separately converted chunks: nothing before
// it can compose or reorder with it, before or after folding.
bool cutsBefore(char32_t c) {
    return c < 0x80 || nfc().hasBoundaryBefore(static_cast<UChar32>(c));
}

// Builds keys of valid UTF-8 pieces that start at a cut point.
class KeyBuilder {
  public:
    explicit KeyBuilder(bool turkic) : turkic_(turkic) {}

    void append(std::string_view run, std::string& out) {
        // Long ASCII stretches are lower-cased here and ICU gets the rest.
        // They are found through all-ASCII 64-byte blocks, cheap to test. A
        // stretch gives its last character to the piece after it, since a
        // mark there may combine with it; ASCII characters are cut points.
        constexpr std::size_t kBlock = 64;
        const std::size_t n = run.size();
        std::size_t p = 0;
        for (std::size_t block = 0; block + kBlock <= n; block += kBlock) {
            if (block < p || !platform::isAscii(run.substr(block, kBlock))) {
                continue;
            }
            std::size_t start = block;
            while (start > p && static_cast<unsigned char>(run[start - 1]) < 0x80) {
                --start;
            }
            std::size_t end = block + kBlock;
            while (end < n && static_cast<unsigned char>(run[end]) < 0x80) {
                ++end;
            }
            if (end < n) {
                --end;
            }
            appendMixed(run.substr(p, start - p), out);
            appendAscii(run.substr(start, end - start), out);
            p = end;
        }
        appendMixed(run.substr(p), out);
    }

  private:
    void appendMixed(std::string_view piece, std::string& out) {
        if (platform::isAscii(piece)) {
            appendAscii(piece, out);
        } else {
            appendConverted(piece, out);
        }
    }

    void appendConverted(std::string_view piece, std::string& out) {
        const std::size_t mark = out.size();
        if (!tryAppend(piece, out)) {
            // Only allocation failure gets here; matching the bytes as they
            // are is the best that is left.
            out.resize(mark);
            out.append(piece);
        }
    }

    void appendAscii(std::string_view run, std::string& out) const {
        if (turkic_ && run.find('I') != npos) {
            // Dotless ı; an I before U+0307 cannot occur in an ASCII run.
            for (const char c : run) {
                if (c == 'I') {
                    out += "\u0131";
                } else {
                    out += static_cast<char>(asciiLower(static_cast<unsigned char>(c)));
                }
            }
            return;
        }
        const std::size_t start = out.size();
        out.resize(start + run.size());
        char* dest = out.data() + start;
        for (const char c : run) {
            *dest++ = static_cast<char>(asciiLower(static_cast<unsigned char>(c)));
        }
    }

    // True when the piece may hold U+0345 or a precomposed Greek letter with
    // it (U+1F80..U+1FFF): the only case where folding before decomposing
    // would give a different result.
    static bool mayHoldYpogegrammeni(std::string_view s) {
        // U+0345 is CD 85, U+1F80..U+1FFF are E1 BE xx and E1 BF xx.
        for (std::size_t at = 0; (at = findByte(s, 0xCD, at)) != npos; ++at) {
            if (at + 1 < s.size() && s[at + 1] == '\x85') {
                return true;
            }
        }
        for (std::size_t at = 0; (at = findByte(s, 0xE1, at)) != npos; ++at) {
            if (at + 1 < s.size() && (s[at + 1] == '\xbe' || s[at + 1] == '\xbf')) {
                return true;
            }
        }
        return false;
    }

    static icu::StringPiece piece(std::string_view s) {
        return {s.data(), static_cast<int32_t>(s.size())};
    }

    bool tryAppend(std::string_view run, std::string& out) {
        UErrorCode status = U_ZERO_ERROR;
        std::string_view source = run;
        // Turkic lower-casing looks at I + U+0307, so it needs the
        // decomposed form as well.
        if (turkic_ || mayHoldYpogegrammeni(run)) {
            decomposed_.clear();
            icu::StringByteSink<std::string> sink(&decomposed_);
            nfd().normalizeUTF8(0, piece(run), sink, nullptr, status);
            source = decomposed_;
        }
        if (turkic_) {
            lowered_.clear();
            icu::StringByteSink<std::string> sink(&lowered_);
            icu::CaseMap::utf8ToLower("tr", 0, piece(source), sink, nullptr, status);
            source = lowered_;
        }
        folded_.clear();
        icu::StringByteSink<std::string> foldSink(&folded_);
        icu::CaseMap::utf8Fold(turkic_ ? U_FOLD_CASE_EXCLUDE_SPECIAL_I : U_FOLD_CASE_DEFAULT,
                               piece(source), foldSink, nullptr, status);
        icu::StringByteSink<std::string> outSink(&out);
        nfc().normalizeUTF8(0, piece(folded_), outSink, nullptr, status);
        return U_SUCCESS(status);
    }

    bool turkic_;
    std::string decomposed_;
    std::string lowered_;
    std::string folded_;
};

// Knuth-Morris-Pratt over bytes, resumable across pieces of a stream, so
// that no input makes it quadratic. While nothing is matched it jumps ahead
// with memchr to the next place where one chosen pattern byte fits.
template <bool kAsciiCaseless>
class StreamSearch {
  public:
    explicit StreamSearch(std::string_view pattern) : pattern_(pattern) {
        failure_.assign(pattern_.size(), 0);
        std::uint32_t k = 0;
        for (std::size_t i = 1; i < pattern_.size(); ++i) {
            while (k > 0 && pattern_[i] != pattern_[k]) {
                k = failure_[k - 1];
            }
            if (pattern_[i] == pattern_[k]) {
                ++k;
            }
            failure_[i] = k;
        }
        skipIndex_ = chooseSkipIndex();
        const auto skipByte = static_cast<unsigned char>(pattern_[skipIndex_]);
        skipA_ = static_cast<char>(skipByte);
        skipB_ = skipA_;
        if (kAsciiCaseless && skipByte >= 'a' && skipByte <= 'z') {
            skipB_ = static_cast<char>(skipByte - ('a' - 'A'));
        }
    }

    [[nodiscard]] std::size_t size() const { return pattern_.size(); }

    // Forgets a partial match (start of a new stream).
    void reset() {
        matched_ = 0;
        known_ = false;
    }

    // Finds the next occurrence that ends within `hay` at or after `pos`;
    // returns its end, or npos with `pos` at hay.size(). Partial matches
    // carry over to the next piece.
    std::size_t next(std::string_view hay, std::size_t& pos) {
        const std::size_t n = hay.size();
        const std::size_t m = pattern_.size();
        while (pos < n) {
            if (matched_ == 0) {
                pos = skipAhead(hay, pos);
                if (pos >= n) {
                    break;
                }
            }
            const char b = fold(hay[pos]);
            while (matched_ > 0 && b != pattern_[matched_]) {
                matched_ = failure_[matched_ - 1];
            }
            if (b == pattern_[matched_]) {
                ++matched_;
            }
            ++pos;
            if (matched_ == m) {
                matched_ = failure_[m - 1];
                return pos;
            }
        }
        return npos;
    }

  private:
    static char fold(char c) {
        if constexpr (kAsciiCaseless) {
            return static_cast<char>(asciiLower(static_cast<unsigned char>(c)));
        } else {
            return c;
        }
    }

    // With nothing matched, no occurrence can start before the first place
    // p >= pos where hay[p + skipIndex_] fits. A stream is only ever split
    // between characters, and for keys the skip byte lies in the first
    // character, so an occurrence never has its skip byte in a later piece.
    std::size_t skipAhead(std::string_view hay, std::size_t pos) {
        const std::size_t n = hay.size();
        const std::size_t from = pos + skipIndex_;
        if (from >= n) {
            return n;
        }
        const std::size_t found = findEither(hay, from);
        return found == npos ? n : found - skipIndex_;
    }

    // The next position from `from` whose byte is skipA_ or skipB_. For the
    // two cases of a letter it leapfrogs two memchr scans, remembering the
    // hit of each; that is only valid within one haystack, which is why
    // reset() must come before a new one.
    [[nodiscard]] std::size_t findEither(std::string_view hay, std::size_t from) {
        if (skipA_ == skipB_) {
            return findByte(hay, static_cast<unsigned char>(skipA_), from);
        }
        if (!known_ || (nextA_ != npos && nextA_ < from)) {
            nextA_ = findByte(hay, static_cast<unsigned char>(skipA_), from);
        }
        if (!known_ || (nextB_ != npos && nextB_ < from)) {
            nextB_ = findByte(hay, static_cast<unsigned char>(skipB_), from);
        }
        known_ = true;
        return std::min(nextA_, nextB_);
    }

    // For keys, the last byte of the first character (lead bytes of one
    // script repeat constantly); for ASCII, the rarest-looking letter among
    // the first few, by a rough English letter ranking.
    [[nodiscard]] std::size_t chooseSkipIndex() const {
        if constexpr (kAsciiCaseless) {
            constexpr std::string_view kCommonFirst = " etaoinshrdlcumwfgypbvkjxqz";
            std::size_t best = 0;
            std::size_t bestRank = 0;
            const std::size_t look = std::min<std::size_t>(pattern_.size(), 16);
            for (std::size_t i = 0; i < look; ++i) {
                const std::size_t at = kCommonFirst.find(pattern_[i]);
                const std::size_t rank = at == npos ? kCommonFirst.size() : at;
                if (rank > bestRank) {
                    best = i;
                    bestRank = rank;
                }
            }
            return best;
        } else {
            std::size_t i = 1;
            while (i < pattern_.size() && i < 4 &&
                   (static_cast<unsigned char>(pattern_[i]) & 0xC0) == 0x80) {
                ++i;
            }
            return i - 1;
        }
    }

    std::string pattern_;
    std::vector<std::uint32_t> failure_;  // patterns are far below 4 GB
    std::size_t matched_ = 0;
    std::size_t skipIndex_ = 0;
    char skipA_ = 0;
    char skipB_ = 0;
    bool known_ = false;
    std::size_t nextA_ = npos;
    std::size_t nextB_ = npos;
};

// The code point at `pos`, or -1 for a malformed byte.
std::int32_t codePointAt(std::string_view s, std::size_t pos) {
    return decodeUtf8(s, pos);
}

// A match may end at `end` of `s` (whose end is the end of the whole text).
bool endsCluster(std::string_view s, std::size_t end) {
    if (end >= s.size() || static_cast<unsigned char>(s[end]) < 0x80) {
        return true;
    }
    const std::int32_t c = codePointAt(s, end);
    return c < 0 || startsCluster(static_cast<char32_t>(c));
}

bool hasFoldingHazard(std::string_view s) {
    if (platform::isAscii(s)) {
        return false;
    }
    // Sixteen bytes at a time past blocks without any of the lead bytes.
    using Block = unsigned char __attribute__((vector_size(16)));
    const auto anyLane = [](Block v) {
        std::uint64_t lo = 0;
        std::uint64_t hi = 0;
        std::memcpy(&lo, &v, sizeof lo);
        std::memcpy(&hi, reinterpret_cast<const char*>(&v) + sizeof lo, sizeof hi);
        return (lo | hi) != 0;
    };
    std::size_t i = 0;
    while (i < s.size()) {
        if (i + sizeof(Block) <= s.size()) {
            Block v;
            std::memcpy(&v, s.data() + i, sizeof v);
            // Leads C3-C5, CD, E1, E2, EF.
            const Block hit =
                ((v >= 0xC3) & (v <= 0xC5)) | (v == 0xCD) | (v == 0xE1) | (v == 0xE2) | (v == 0xEF);
            if (!anyLane(hit)) {
                i += sizeof(Block);
                continue;
            }
        }
        const auto b = static_cast<unsigned char>(s[i]);
        if (!kHazardLeads[b]) {
            ++i;
            continue;
        }
        std::size_t next = i;
        const std::int32_t c = decodeUtf8(s, next);
        if (c >= 0 && foldsTowardAscii(static_cast<char32_t>(c))) {
            return true;
        }
        i = next;
    }
    return false;
}

enum class Verdict { Match, NoMatch, Unsure };

// Everything worked out once per query.
class Needle {
  public:
    Needle(std::string_view needle, bool turkic)
        : turkic_(turkic), valid_(platform::isValidUtf8(needle)), literal_(needle) {
        if (!valid_) {
            return;
        }
        // Under Turkic rules I and i fold to non-ASCII or pair with İ.
        asciiShortcut_ =
            platform::isAscii(needle) && !(turkic_ && needle.find_first_of("Ii") != npos);
        if (asciiShortcut_) {
            std::string lowered(needle);
            std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](char c) {
                return static_cast<char>(asciiLower(static_cast<unsigned char>(c)));
            });
            asciiSearch_.emplace_back(lowered);
        }
        KeyBuilder builder(turkic_);
        std::string key;
        builder.append(needle, key);
        keySearch_.emplace_back(key);
        anchored_ = !startsCluster(static_cast<char32_t>(codePointAt(key, 0)));
        // The key of an ASCII text is ASCII, but for dotless ı under Turkic rules.
        std::string beyondAscii = key;
        if (turkic_) {
            for (std::size_t at = 0; (at = beyondAscii.find("\u0131", at)) != npos;) {
                beyondAscii.erase(at, 2);
            }
        }
        asciiTextsCannotMatch_ = !platform::isAscii(beyondAscii);

        // The query as typed but in NFC: texts mostly hold it like that, and
        // a byte-equal occurrence between cut points is a match.
        nfcNeedle_ = platform::toNfc(needle);
        const std::int32_t first = codePointAt(nfcNeedle_, 0);
        rawShortcut_ = !asciiShortcut_ && startsCluster(static_cast<char32_t>(first));
    }

    [[nodiscard]] bool turkic() const { return turkic_; }

    bool contains(const Text& text, Route route, KeyBuilder& builder, std::string& scratch) {
        const std::string_view bytes = text.bytes();
        if (!valid_) {
            return findBytes(bytes, literal_) != npos;
        }
        if (route == Route::Automatic) {
            if (asciiShortcut_) {
                const Verdict verdict = asciiScan(bytes);
                if (verdict != Verdict::Unsure) {
                    return verdict == Verdict::Match;
                }
            } else if (asciiTextsCannotMatch_ && platform::isAscii(bytes)) {
                return false;
            } else if (rawShortcut_ && rawScan(bytes)) {
                return true;
            }
        }
        return keyScan(text, builder, scratch);
    }

  private:
    // Case-blind byte scan for an ASCII query. A hit followed by ASCII, a
    // malformed byte, the end, or a character that starts a new cluster is
    // also a hit in the keys. A miss stands only when no character folds
    // toward ASCII (kFoldsTowardAscii) and no hit was dropped for a combining
    // mark after it, since both can change the answer.
    Verdict asciiScan(std::string_view bytes) {
        StreamSearch<true>& search = asciiSearch_.front();
        search.reset();
        bool unsure = false;
        std::size_t pos = 0;
        for (std::size_t end = search.next(bytes, pos); end != npos;
             end = search.next(bytes, pos)) {
            if (endsCluster(bytes, end)) {
                return Verdict::Match;
            }
            unsure = true;
        }
        if (unsure || hasFoldingHazard(bytes)) {
            return Verdict::Unsure;
        }
        return Verdict::NoMatch;
    }

    // Looks for the NFC query byte for byte, a few times at most so that a
    // text full of near misses costs no more than one pass.
    bool rawScan(std::string_view bytes) const {
        std::size_t from = 0;
        for (int tries = 0; tries < 4; ++tries) {
            const std::size_t at = findBytes(bytes, nfcNeedle_, from);
            if (at == npos) {
                return false;
            }
            if (endsCluster(bytes, at + nfcNeedle_.size())) {
                return true;
            }
            from = at + 1;
        }
        return false;
    }

    bool keyScan(const Text& text, KeyBuilder& builder, std::string& chunk) {
        const std::string_view bytes = text.bytes();
        const bool knownValid = text.isValidUtf8();
        StreamSearch<false>& search = keySearch_.front();
        search.reset();
        const std::size_t m = search.size();
        std::size_t keyOffset = 0;  // key bytes before `chunk`
        bool pendingEnd = false;    // a match ended with the previous chunk
        std::size_t want = 4096;    // small first, so early matches stay cheap
        std::size_t pos = 0;
        while (pos < bytes.size()) {
            chunk.clear();
            pos = nextChunk(bytes, pos, want, knownValid, builder, chunk);
            want = std::min<std::size_t>(want * 2, std::size_t{1} << 16);
            if (pendingEnd) {
                if (endsCluster(chunk, 0)) {
                    return true;
                }
                pendingEnd = false;
            }
            std::size_t at = 0;
            for (std::size_t end = search.next(chunk, at); end != npos;
                 end = search.next(chunk, at)) {
                if (anchored_ && keyOffset + end != m) {
                    continue;
                }
                if (end == chunk.size()) {
                    pendingEnd = true;
                } else if (endsCluster(chunk, end)) {
                    return true;
                }
            }
            keyOffset += chunk.size();
        }
        return pendingEnd;
    }

    // Appends to `key` the key of the next piece of `bytes` from `pos`:
    // either a run of malformed bytes, or valid text of about `want` bytes
    // ending at a cut point. Returns where the piece ends.
    static std::size_t nextChunk(std::string_view bytes, std::size_t pos, std::size_t want,
                                 bool knownValid, KeyBuilder& builder, std::string& key) {
        const std::size_t n = bytes.size();
        if (!knownValid) {
            std::size_t probe = pos;
            if (static_cast<unsigned char>(bytes[pos]) >= 0x80 && decodeUtf8(bytes, probe) < 0) {
                // Malformed bytes: one stand-in each, then stop so the valid
                // text after them starts a fresh piece.
                std::size_t end = pos;
                for (;;) {
                    key += kMalformed;
                    ++end;
                    probe = end;
                    if (end >= n || end - pos >= want ||
                        static_cast<unsigned char>(bytes[end]) < 0x80 ||
                        decodeUtf8(bytes, probe) >= 0) {
                        return end;
                    }
                }
            }
        }
        std::size_t end = pos;
        if (knownValid) {
            end = std::min(n, pos + want);
            while (end < n && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80) {
                ++end;
            }
        } else {
            // Walk valid characters up to `want` bytes or the next malformed byte.
            while (end < n && end - pos < want) {
                if (static_cast<unsigned char>(bytes[end]) < 0x80) {
                    ++end;
                    continue;
                }
                std::size_t next = end;
                if (decodeUtf8(bytes, next) < 0) {
                    builder.append(bytes.substr(pos, end - pos), key);
                    return end;
                }
                end = next;
            }
        }
        // Move on to a cut point (a long run of combining marks just makes a
        // bigger piece).
        while (end < n) {
            std::size_t next = end;
            const std::int32_t c = decodeUtf8(bytes, next);
            if (c < 0 || cutsBefore(static_cast<char32_t>(c))) {
                break;
            }
            end = next;
        }
        builder.append(bytes.substr(pos, end - pos), key);
        return end;
    }

    bool turkic_;
    bool valid_;
    std::string literal_;
    bool asciiShortcut_ = false;
    bool rawShortcut_ = false;
    bool anchored_ = false;
    bool asciiTextsCannotMatch_ = false;
    std::string nfcNeedle_;
    // Zero or one each; vectors only to construct them late.
    std::vector<StreamSearch<true>> asciiSearch_;
    std::vector<StreamSearch<false>> keySearch_;
};

}  // namespace

bool startsCluster(char32_t c) {
    if (c < 0x80) {
        return true;
    }
    if (c == 0x200C || c == 0x200D) {
        return false;
    }
    const auto cp = static_cast<UChar32>(c);
    return (U_GET_GC_MASK(cp) & U_GC_M_MASK) == 0 && nfc().hasBoundaryBefore(cp);
}

bool foldsTowardAscii(char32_t c) {
    return std::find(kFoldsTowardAscii.begin(), kFoldsTowardAscii.end(), c) !=
           kFoldsTowardAscii.end();
}

bool needsDecompositionBeforeFolding(char32_t c) {
    return c == 0x0345 || (c >= 0x1F80 && c <= 0x1FFF);
}

std::string matchKey(std::string_view utf8, bool turkic) {
    KeyBuilder builder(turkic);
    std::string key;
    builder.append(utf8, key);
    return key;
}

bool contains(const Text& text, std::string_view needle, Route route) {
    if (needle.empty()) {
        return true;
    }
    Needle prepared(needle, turkicDefaultLocale());
    KeyBuilder builder(prepared.turkic());
    std::string scratch;
    return prepared.contains(text, route, builder, scratch);
}

}  // namespace search_detail

std::vector<ClipItem> filterItems(const std::vector<ClipItem>& items, std::string_view query) {
    const std::string_view needle = platform::trimSpacesAndTabs(query);
    if (needle.empty()) {
        return items;
    }
    search_detail::Needle prepared(needle, search_detail::turkicDefaultLocale());
    search_detail::KeyBuilder builder(prepared.turkic());
    std::string scratch;
    std::vector<ClipItem> result;
    std::copy_if(items.begin(), items.end(), std::back_inserter(result), [&](const ClipItem& item) {
        return prepared.contains(item.text, search_detail::Route::Automatic, builder, scratch);
    });
    return result;
}

}  // namespace brimlet
