#include "platform/core/text.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "support/repeat.h"

namespace brimlet::platform {
namespace {

using namespace std::string_literals;

using testing::repeat;

// Non-starters in a row at the start and at the end of `s`.
struct Runs {
    int leading = 0;
    int trailing = 0;
    bool all = true;
};
Runs runsOf(const icu::UnicodeString& s) {
    Runs runs;
    int run = 0;
    for (int32_t i = 0; i < s.length(); i = s.moveIndex32(i, 1)) {
        if (u_getCombiningClass(s.char32At(i)) != 0) {
            ++run;
            continue;
        }
        if (runs.all) {
            runs.leading = run;
        }
        runs.all = false;
        run = 0;
    }
    if (runs.all) {
        runs.leading = run;
    }
    runs.trailing = run;
    return runs;
}

TEST(TextEquality, FollowsCanonicalEquivalence) {
    EXPECT_EQ(Text("caf\u00e9"), Text("cafe\u0301"));
    EXPECT_EQ(Text("\uac00"), Text("\u1100\u1161"));          // Hangul syllable and jamo
    EXPECT_EQ(Text("a\u0323\u0307"), Text("a\u0307\u0323"));  // combining marks reordered
    EXPECT_EQ(Text("\u212b"), Text("\u00c5"));                // Angstrom sign
    EXPECT_FALSE(Text("cafe") == Text("caf\u00e9"));
    EXPECT_FALSE(Text("Caf\u00e9") == Text("caf\u00e9"));     // no case folding
    EXPECT_FALSE(Text(" x") == Text("x"));                    // no trimming
    EXPECT_FALSE(Text("\ufb01") == Text("fi"));               // compatibility is not canonical
    EXPECT_FALSE(Text(std::string("a\0b", 3)) == Text("a"));  // NUL is an ordinary character
    // Malformed bytes equal only themselves.
    EXPECT_FALSE(Text("\xff") == Text("\xfe"));
    EXPECT_FALSE(Text("\xff") == Text("\xef\xbf\xbd"));  // not the replacement character
    EXPECT_FALSE(Text("caf\u00e9\xff") == Text("cafe\u0301\xff"));
    EXPECT_FALSE(Text("\xed\xa0\x80").isValidUtf8());  // surrogate
    EXPECT_FALSE(Text("\xc0\xaf").isValidUtf8());      // overlong
}

TEST(TextEquality, LongTextsCompareAcrossNormalisationPieces) {
    std::string composed;
    std::string decomposed;
    for (int i = 0; i < 20000; ++i) {
        // Odd lengths put combining marks on every possible piece border.
        composed += std::string(static_cast<std::size_t>(i % 7), 'x') + "\u00e9\u1e09";
        decomposed += std::string(static_cast<std::size_t>(i % 7), 'x') + "e\u0301c\u0327\u0301";
    }
    EXPECT_EQ(Text(composed), Text(decomposed));
    EXPECT_FALSE(Text(composed + "!") == Text(decomposed));
    EXPECT_FALSE(Text(composed) == Text(decomposed + "\u0301"));
    std::string changed = decomposed;
    changed[changed.size() / 2 + 1] = 'y';
    EXPECT_FALSE(Text(composed) == Text(changed));
}

TEST(TextEquality, RunsOfMoreThanThirtyMarksAreCutForComparison) {
    // Short runs in any canonical order are equal; so are the runs of a
    // long stack spelled with a precomposed letter.
    EXPECT_EQ(Text("a" + repeat("\u0316", 10) + repeat("\u0301", 10)),
              Text("a" + repeat("\u0301", 10) + repeat("\u0316", 10)));
    EXPECT_EQ(Text("a" + repeat("\u0301", 41)), Text("\u00e1" + repeat("\u0301", 40)));
    // Past 30 marks a joiner goes in, and reordering stops at it.
    EXPECT_FALSE(Text("a" + repeat("\u0316", 20) + repeat("\u0301", 20)) ==
                 Text("a" + repeat("\u0301", 20) + repeat("\u0316", 20)));

    // The joiner is in the keys only, even where the text is NFC as it is.
    const Text stack("q" + repeat("\u0301", 40));
    EXPECT_EQ(stack.bytes(), "q" + repeat("\u0301", 40));
    EXPECT_EQ(stack.equalityKey(), "q" + repeat("\u0301", 30) + "\u034f" + repeat("\u0301", 10));
    EXPECT_EQ(stack, Text(std::string(stack.bytes())));
}

TEST(TextKeys, AreCanonicalAndFoldedWhateverTheBytes) {
    const Text decomposed("CAFE\u0301");
    EXPECT_EQ(decomposed.equalityKey(), "CAF\u00c9");
    EXPECT_EQ(decomposed.searchKey(CaseRules::Standard), "caf\u00e9");
    EXPECT_EQ(decomposed.searchKey(CaseRules::Turkic), "caf\u00e9");

    // Malformed bytes: the text is its own equality key, and each bad byte
    // stands as 0xFF in the search key.
    const Text broken("AB\xc3\xff\u00c9"s);
    EXPECT_EQ(broken.equalityKey(), broken.bytes());
    EXPECT_EQ(broken.searchKey(CaseRules::Standard), "ab\xff\xff\u00e9");
    EXPECT_EQ(Text("\0"s).searchKey(CaseRules::Standard), "\0"s);
}

// Every code point against ICU: the search key is the textbook
// NFC(fold(NFD(c))), the Stream-Safe counts are those of NFKD(c), and no
// key holds more non-starters in a row than counted for c, so the bound on
// runs carries over from the text to what normalisation sorts.
TEST(TextKeys, FollowIcuForEveryCodePoint) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2& nfc = *icu::Normalizer2::getNFCInstance(status);
    const icu::Normalizer2& nfd = *icu::Normalizer2::getNFDInstance(status);
    const icu::Normalizer2& nfkd = *icu::Normalizer2::getNFKDInstance(status);
    ASSERT_TRUE(U_SUCCESS(status));
    const auto runsIn = [&](const std::string& utf8) {
        return runsOf(nfd.normalize(icu::UnicodeString::fromUTF8(utf8), status));
    };
    const auto fitsIn = [](const Runs& key, const text_detail::NonStarters& counted) {
        if (key.all) {
            return counted.all && key.leading <= counted.leading;
        }
        return key.leading <= counted.leading && key.trailing <= counted.trailing;
    };
    for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) {
            continue;
        }
        const icu::UnicodeString single(c);
        std::string utf8;
        single.toUTF8String(utf8);

        const Runs compatibility = runsOf(nfkd.normalize(single, status));
        const text_detail::NonStarters counted = text_detail::nonStarters(static_cast<char32_t>(c));
        ASSERT_EQ(counted, (text_detail::NonStarters{compatibility.leading, compatibility.trailing,
                                                     compatibility.all}))
            << std::hex << c;
        std::string canonical;
        nfc.normalize(single, status).toUTF8String(canonical);
        ASSERT_TRUE(fitsIn(runsIn(canonical), counted)) << std::hex << c;

        for (const CaseRules rules : {CaseRules::Standard, CaseRules::Turkic}) {
            icu::UnicodeString folded = nfd.normalize(single, status);
            if (rules == CaseRules::Turkic) {
                folded.toLower(icu::Locale("tr"));
            }
            folded.foldCase(rules == CaseRules::Turkic ? U_FOLD_CASE_EXCLUDE_SPECIAL_I
                                                       : U_FOLD_CASE_DEFAULT);
            std::string expected;
            nfc.normalize(folded, status).toUTF8String(expected);
            // Also proves that folding before decomposing is harmless where
            // the key skips the decomposition.
            const std::string key = searchKeyOf(utf8, rules);
            ASSERT_EQ(key, expected) << std::hex << c;
            ASSERT_TRUE(fitsIn(runsIn(key), counted)) << std::hex << c;
        }
        icu::UnicodeString decomposition;
        if (nfd.getDecomposition(c, decomposition) && decomposition.indexOf(char16_t{0x345}) >= 0) {
            ASSERT_TRUE(text_detail::needsDecompositionBeforeFolding(static_cast<char32_t>(c)))
                << std::hex << c;
        }
    }
    ASSERT_TRUE(U_SUCCESS(status));
}

// UTF-8's bit pattern for `value` in `length` bytes, whether or not that is
// the shortest form of a scalar value.
std::string utf8Pattern(std::uint32_t value, std::size_t length) {
    if (length == 1) {
        return std::string(1, static_cast<char>(value));
    }
    std::string out(length, '\0');
    for (std::size_t k = length - 1; k > 0; --k) {
        out[k] = static_cast<char>(0x80 | (value & 0x3F));
        value >>= 6;
    }
    static constexpr std::array<std::uint32_t, 5> kLead{0, 0, 0xC0, 0xE0, 0xF0};
    out[0] = static_cast<char>(kLead[length] | value);
    return out;
}

// Decoding and trimming of every code point and of every malformed form:
// overlongs, surrogates, values past U+10FFFF, truncations and stray bytes.
// Malformed input decodes to -1 and skips one byte, however much of a
// sequence it holds. The sets are those written out in text.h.
TEST(TextDecoding, FollowsWellFormedUtf8AndWhiteSpaceForEveryCodePoint) {
    const auto white = [](UChar32 c) {
        const auto type = u_charType(c);
        return (c >= 0x09 && c <= 0x0D) || c == 0x85 || type == U_SPACE_SEPARATOR ||
               type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
    };
    const auto agrees = [&](const std::string& bytes, std::int32_t c) {
        std::size_t pos = 0;
        std::size_t posBeforeMore = 0;
        const bool spaceOrTab = c >= 0 && (c == 0x09 || u_charType(c) == U_SPACE_SEPARATOR);
        return decodeUtf8(bytes, pos) == c && pos == (c < 0 ? 1 : bytes.size()) &&
               decodeUtf8(bytes + "x", posBeforeMore) == c && posBeforeMore == pos &&
               isValidUtf8(bytes) == (c >= 0) &&
               isBlank(" " + bytes + "\n") == (c >= 0 && white(c)) &&
               trimSpacesAndTabs(bytes + "x").size() == (spaceOrTab ? 1 : bytes.size() + 1) &&
               trimSpacesAndTabs("x" + bytes).size() == (spaceOrTab ? 1 : bytes.size() + 1);
    };
    for (std::uint32_t value = 0; value < 0x200000; ++value) {
        const std::size_t shortest = value < 0x80 ? 1 : value < 0x800 ? 2 : value < 0x10000 ? 3 : 4;
        const bool scalar = value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
        for (std::size_t length = shortest; length <= 4; ++length) {
            const std::string bytes = utf8Pattern(value, length);
            const bool valid = scalar && length == shortest;
            ASSERT_TRUE(agrees(bytes, valid ? static_cast<std::int32_t>(value) : -1))
                << ::testing::PrintToString(bytes);
            // Each truncation of a valid sequence once.
            for (std::size_t cut = 1; valid && cut < length; ++cut) {
                if ((value & ((1U << (6 * (length - cut))) - 1)) == 0) {
                    ASSERT_TRUE(agrees(bytes.substr(0, cut), -1))
                        << ::testing::PrintToString(bytes);
                }
            }
        }
    }
    // Stray bytes alone (continuation bytes, C0, C1, F5..FF, bare leads), and
    // F8..FF, which no pattern above starts with, before continuation bytes.
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        const std::string stray(1, static_cast<char>(byte));
        ASSERT_TRUE(agrees(stray, -1)) << byte;
        ASSERT_TRUE(byte < 0xF8 || agrees(stray + "\x80\x80\x80", -1)) << byte;
    }
    EXPECT_TRUE(isBlank(""));
}

}  // namespace
}  // namespace brimlet::platform
