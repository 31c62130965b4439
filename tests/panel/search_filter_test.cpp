#include "panel/search_filter.h"

#include <gtest/gtest.h>
#include <unicode/casemap.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace brimlet {
namespace {

using search_detail::contains;
using search_detail::Route;

std::vector<ClipItem> history(const std::vector<std::string>& texts) {
    std::vector<ClipItem> items;
    std::uint8_t n = 0;
    for (const auto& text : texts) {
        std::array<std::uint8_t, 16> id{};
        id[15] = ++n;
        items.push_back({Uuid(id), Text(text)});
    }
    return items;
}

std::vector<std::string> shown(const std::vector<ClipItem>& items, std::string_view query) {
    const auto result = filterItems(items, query);
    std::vector<std::string> out(result.size());
    std::transform(result.begin(), result.end(), out.begin(),
                   [](const ClipItem& item) { return std::string(item.text.bytes()); });
    return out;
}

bool matches(std::string_view text, std::string_view query) {
    return !filterItems(history({std::string(text)}), query).empty();
}

using Texts = std::vector<std::string>;

// Sets the process's ICU default locale for one test and puts the old one back.
class FilterLocale : public ::testing::Test {
  protected:
    void TearDown() override { use(saved_); }
    static void use(const icu::Locale& locale) {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(locale, status);
        ASSERT_TRUE(U_SUCCESS(status));
    }

  private:
    icu::Locale saved_ = icu::Locale::getDefault();
};

TEST(FilterTrimming, BlankQueriesShowTheWholeHistoryInOrder) {
    const auto items = history({"b", "a", "c"});
    for (const char* blank : {"", " ", "\t\t", "\u00a0", " \u3000\t\u2003"}) {
        EXPECT_EQ(shown(items, blank), (Texts{"b", "a", "c"})) << blank;
    }
}

TEST(FilterTrimming, SpacesTabsAndNoBreakSpacesAroundTheWordAreIgnored) {
    const auto items = history({"alpha beta", "beta", "gamma", " beta\t"});
    const Texts bare = shown(items, "beta");
    EXPECT_EQ(bare, (Texts{"alpha beta", "beta", " beta\t"}));
    for (const char* padded : {"  beta", "beta\t", "\t beta \t", "\u00a0beta\u3000"}) {
        EXPECT_EQ(shown(items, padded), bare) << padded;
    }
}

TEST(FilterTrimming, LineBreaksStayAndCount) {
    const auto items = history({"one\ntwo", "one two", "one", "x\r\ny"});
    EXPECT_EQ(shown(items, "one\n"), (Texts{"one\ntwo"}));
    EXPECT_EQ(shown(items, " one\n "), (Texts{"one\ntwo"}));
    // A lone line break is a real query, not a blank one.
    EXPECT_EQ(shown(items, "\n"), (Texts{"one\ntwo", "x\r\ny"}));
    EXPECT_EQ(shown(items, " \r\n\t"), (Texts{"x\r\ny"}));
    EXPECT_EQ(shown(items, "\u2028"), Texts{});
}

TEST(FilterSpaces, InnerSpacesAndTabsAreMatchedExactly) {
    const auto items = history({"two words", "two  words", "twowords", "two\twords", "TWO WORDS"});
    EXPECT_EQ(shown(items, "two words"), (Texts{"two words", "TWO WORDS"}));
    EXPECT_EQ(shown(items, "two  words"), (Texts{"two  words"}));
    EXPECT_EQ(shown(items, "two\twords"), (Texts{"two\twords"}));
    EXPECT_EQ(shown(items, "two\u00a0words"), Texts{});
}

TEST(FilterCase, IgnoredBothWays) {
    const auto items = history({"Hello World", "HELLO", "hello", "help"});
    EXPECT_EQ(shown(items, "hello"), (Texts{"Hello World", "HELLO", "hello"}));
    EXPECT_EQ(shown(items, "HELLO"), (Texts{"Hello World", "HELLO", "hello"}));
    EXPECT_EQ(shown(items, "hElLo wOrLd"), (Texts{"Hello World"}));
}

TEST(FilterCase, IgnoredBeyondAscii) {
    EXPECT_TRUE(matches("ПРИВЕТ, мир", "привет"));
    EXPECT_TRUE(matches("привет", "ПРИВЕТ"));
    EXPECT_TRUE(matches("ΣΟΦΊΑ", "σοφία"));
    EXPECT_TRUE(matches("Ärger", "äRGER"));
    EXPECT_TRUE(matches("ＡＢＣ", "ａｂｃ"));  // full-width letters have case too
    // Full case folding: the sharp s is "ss", and the Kelvin sign a K.
    EXPECT_TRUE(matches("Straße", "STRASSE"));
    EXPECT_TRUE(matches("STRASSE", "straße"));
    EXPECT_TRUE(matches("300 \u212a", "300 k"));
    EXPECT_TRUE(matches("300 k", "300 \u212a"));
}

TEST(FilterAccents, DiacriticsAndWidthAreSignificant) {
    EXPECT_FALSE(matches("caf\u00e9", "cafe"));
    EXPECT_FALSE(matches("cafe", "caf\u00e9"));
    EXPECT_FALSE(matches("r\u00e9sum\u00e9", "resume"));
    EXPECT_FALSE(matches("na\u00efve", "naive"));
    EXPECT_FALSE(matches("\u00e9t\u00e9", "\u00e8t\u00e8"));
    EXPECT_FALSE(matches("\uff21\uff22\uff23", "abc"));  // full-width vs ASCII
    EXPECT_FALSE(matches("abc", "\uff41\uff42\uff43"));
    EXPECT_FALSE(matches("\u30ab", "\uff76"));  // katakana KA vs half-width KA
    EXPECT_TRUE(matches("R\u00c9SUM\u00c9", "r\u00e9sum\u00e9"));
}

TEST(FilterCanonical, PrecomposedAndDecomposedMatchBothWays) {
    EXPECT_TRUE(matches("cafe\u0301 noir", "caf\u00e9"));
    EXPECT_TRUE(matches("caf\u00e9 noir", "cafe\u0301"));
    EXPECT_TRUE(matches("CAFE\u0301", "caf\u00e9"));  // with case as well
    EXPECT_TRUE(matches("CAF\u00c9", "cafe\u0301"));
    EXPECT_TRUE(matches("\u1100\u1161\u11a8", "\uac01"));  // Hangul jamo vs syllable
    EXPECT_TRUE(matches("\uac01", "\u1100\u1161\u11a8"));
    EXPECT_TRUE(matches("xa\u0323\u0307y", "a\u0307\u0323"));  // marks in either order
    EXPECT_TRUE(matches("\u212b", "\u00e5"));                  // Angstrom sign
    EXPECT_TRUE(matches("\u1f80", "\u1f08\u0345"));            // iota subscript folds to iota
    EXPECT_TRUE(matches("\u03b1\u0345\u0301", "\u1fb4"));      // ... after reordering
}

TEST(FilterCanonical, AMatchNeverEndsInsideACombiningSequence) {
    EXPECT_FALSE(matches("e\u0301", "e"));
    EXPECT_FALSE(matches("cafe\u0301", "cafe"));
    EXPECT_FALSE(matches("q\u0301", "q"));  // no precomposed form
    EXPECT_FALSE(matches("\u00e9\u0323", "\u00e9"));
    EXPECT_FALSE(matches("a\u200d", "a"));
    EXPECT_FALSE(matches("e\u0301", "\u0301"));  // nor starts inside one
    EXPECT_FALSE(matches("q\u0301", "\u0301"));
    EXPECT_TRUE(matches("cafe\u0301", "caf"));
    EXPECT_TRUE(matches("e\u0301e", "e"));
    EXPECT_TRUE(matches("\u00e9\u0323", "e\u0323\u0301"));
    EXPECT_TRUE(matches("\U0001f44d\U0001f3fd", "\U0001f44d"));  // skin tone is no mark
    EXPECT_TRUE(matches("\u0301 at the start", "\u0301"));
}

TEST_F(FilterLocale, TurkishPairsDottedAndDotlessI) {
    use(icu::Locale("tr", "TR"));
    EXPECT_TRUE(matches("\u0130STANBUL", "istanbul"));
    EXPECT_TRUE(matches("istanbul", "\u0130STANBUL"));
    EXPECT_TRUE(matches("I\u0307STANBUL", "istanbul"));  // decomposed capital dotted I
    EXPECT_TRUE(matches("IRMAK", "\u0131rmak"));
    EXPECT_TRUE(matches("\u0131rmak", "IRMAK"));
    EXPECT_FALSE(matches("IRMAK", "irmak"));
    EXPECT_FALSE(matches("irmak", "IRMAK"));
    EXPECT_FALSE(matches("\u0130stanbul", "Istanbul"));
    EXPECT_TRUE(matches("KAPI", "kap\u0131"));
    EXPECT_TRUE(matches("STRASSE", "stra\u00dfe"));  // the rest folds as usual

    use(icu::Locale("az"));
    EXPECT_TRUE(matches("\u0130LK", "ilk"));
    EXPECT_FALSE(matches("ILK", "ilk"));
}

TEST_F(FilterLocale, OtherLocalesPairIWithI) {
    use(icu::Locale("en", "US"));
    EXPECT_TRUE(matches("IRMAK", "irmak"));
    EXPECT_FALSE(matches("IRMAK", "\u0131rmak"));
    EXPECT_FALSE(matches("\u0130STANBUL", "istanbul"));  // İ is i + dot here
    EXPECT_TRUE(matches("\u0130STANBUL", "i\u0307stanbul"));
    use(icu::Locale("de"));
    EXPECT_TRUE(matches("IRMAK", "irmak"));
}

// The ASCII byte scan and the raw NFC scan must agree with the general
// matcher on inputs built to trip them.
TEST_F(FilterLocale, ShortcutsAgreeWithTheGeneralMatcher) {
    const std::vector<std::string> pieces = {
        "a",
        "A",
        "k",
        "K",
        "s",
        "S",
        "i",
        "I",
        "e",
        "st",
        "fi",
        "ss",
        "n",
        ";",
        "`",
        " ",
        "\n",
        "\u212a",
        "\u017f",
        "\u00df",
        "\u1e9e",
        "\ufb01",
        "\ufb05",
        "\u0149",
        "\u1e9a",
        "\u037e",
        "\u1fef",
        "\u0130",
        "\u0131",
        "\u0301",
        "\u0307",
        "\u0345",
        "\u200d",
        "\u00e9",
        "e\u0301",
        "\u1f80",
        "\uff41",
        "\xff",
        "\xc3",
        "\xe2\x84",
        std::string(1, '\0'),
        "\u0903",
        "\u1161",
        "\u0627",
        "\u0434",
        "\u0414",
    };
    std::mt19937 random(20240611);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    const auto compose = [&](std::size_t count) {
        std::string out;
        for (std::size_t i = 0; i < count; ++i) {
            out += pieces[pick(random)];
        }
        return out;
    };
    for (const char* locale : {"en", "tr"}) {
        use(icu::Locale(locale));
        int checked = 0;
        for (int round = 0; round < 4000; ++round) {
            const Text text(compose(1 + round % 9));
            const std::string needle = compose(1 + round % 3);
            const bool fast = contains(text, needle, Route::Automatic);
            const bool general = contains(text, needle, Route::General);
            ASSERT_EQ(fast, general) << locale << " text=" << testing::PrintToString(text.bytes())
                                     << " needle=" << testing::PrintToString(needle);
            checked += fast ? 1 : 0;
        }
        EXPECT_GT(checked, 200) << "too few matches to mean anything";
    }
}

// The whole text's comparison form, built in one go the textbook way.
icu::UnicodeString textbookKey(std::string_view utf8, bool turkic) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString key = icu::UnicodeString::fromUTF8(
        icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    key = icu::Normalizer2::getNFDInstance(status)->normalize(key, status);
    if (turkic) {
        key.toLower(icu::Locale("tr"));
    }
    key.foldCase(turkic ? U_FOLD_CASE_EXCLUDE_SPECIAL_I : U_FOLD_CASE_DEFAULT);
    return icu::Normalizer2::getNFCInstance(status)->normalize(key, status);
}

bool textbookContains(std::string_view text, std::string_view needle, bool turkic) {
    const icu::UnicodeString t = textbookKey(text, turkic);
    const icu::UnicodeString q = textbookKey(needle, turkic);
    for (int32_t at = t.indexOf(q); at >= 0; at = t.indexOf(q, at + 1)) {
        const int32_t end = at + q.length();
        const bool startOk =
            at == 0 || search_detail::startsCluster(static_cast<char32_t>(t.char32At(at)));
        const bool endOk = end == t.length() ||
                           search_detail::startsCluster(static_cast<char32_t>(t.char32At(end)));
        if (startOk && endOk) {
            return true;
        }
    }
    return false;
}

// Long texts go through ICU piece by piece, with ASCII stretches lowered on
// the side; the answer must be the one for the whole text at once.
TEST_F(FilterLocale, GeneralMatcherAgreesWithTheTextbookForm) {
    std::string marked;
    while (marked.size() < 1200) {
        marked += "Ie\u0301\u0323\u0307";
    }
    const std::vector<std::string> pieces = {
        std::string(70, 'x'),
        std::string(2000, 'Y'),
        marked,
        " ",
        "a",
        "I",
        "i",
        "\u0130",
        "\u0131",
        "\u00df",
        "SS",
        "\u0307",
        "\u0301",
        "e",
        "\u00e9",
        "\u0323",
        "\u1f80",
        "\u0345",
        "\u03b1",
        "\u1100",
        "\u1161",
        "\u11a8",
        "\uac00",
        "\u0434",
        "\u0416",
        "\ufe0f",
        "J",
        "\u030c",
        "\u01f0",
        "\ufb01",
        "\n",
    };
    std::mt19937 random(4711);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    for (const char* locale : {"en", "tr"}) {
        use(icu::Locale(locale));
        const bool turkic = std::string_view(locale) == "tr";
        int hits = 0;
        for (int round = 0; round < 300; ++round) {
            std::vector<std::size_t> chosen(1 + random() % 80);
            for (auto& index : chosen) {
                index = pick(random);
            }
            std::string text;
            for (const auto index : chosen) {
                text += pieces[index];
            }
            // Mostly a stretch of the text itself, upper-cased now and then.
            std::string needle;
            if (round % 4 == 0) {
                needle = pieces[pick(random)];
            } else {
                const std::size_t from = random() % chosen.size();
                const std::size_t count = 1 + random() % 3;
                for (std::size_t i = from; i < chosen.size() && i < from + count; ++i) {
                    needle += pieces[chosen[i]];
                }
            }
            if (round % 3 == 0) {
                icu::UnicodeString upper = icu::UnicodeString::fromUTF8(needle);
                upper.toUpper(icu::Locale(locale));
                needle.clear();
                upper.toUTF8String(needle);
            }
            const bool expected = textbookContains(text, needle, turkic);
            ASSERT_EQ(contains(Text(text), needle, Route::General), expected)
                << locale << " text=" << testing::PrintToString(text.substr(0, 200))
                << " needle=" << testing::PrintToString(needle);
            ASSERT_EQ(contains(Text(text), needle, Route::Automatic), expected);
            hits += expected ? 1 : 0;
        }
        EXPECT_GT(hits, 60);
    }
}

// The shortcuts lean on properties of the Unicode tables; this checks them
// for every code point against the textbook form NFC(fold(NFD(x))).
TEST(FilterTables, ShortcutAssumptionsHoldForEveryCodePoint) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2& nfc = *icu::Normalizer2::getNFCInstance(status);
    const icu::Normalizer2& nfd = *icu::Normalizer2::getNFDInstance(status);
    ASSERT_TRUE(U_SUCCESS(status));
    for (const bool turkic : {false, true}) {
        for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF) {
                continue;
            }
            const icu::UnicodeString single(c);
            icu::UnicodeString folded = nfd.normalize(single, status);
            if (turkic) {
                folded.toLower(icu::Locale("tr"));
            }
            folded.foldCase(turkic ? U_FOLD_CASE_EXCLUDE_SPECIAL_I : U_FOLD_CASE_DEFAULT);
            const icu::UnicodeString reference = nfc.normalize(folded, status);
            icu::UnicodeString foldedOnly = single;  // the key's route without NFD
            foldedOnly.foldCase(turkic ? U_FOLD_CASE_EXCLUDE_SPECIAL_I : U_FOLD_CASE_DEFAULT);
            std::string utf8;
            single.toUTF8String(utf8);
            std::string expected;
            reference.toUTF8String(expected);
            // Also proves that folding before decomposing is harmless where
            // the key skips the decomposition.
            ASSERT_EQ(search_detail::matchKey(utf8, turkic), expected) << std::hex << c;

            const auto cp = static_cast<char32_t>(c);
            if (c >= 0x80) {
                bool holdsAscii = false;
                for (const char b : expected) {
                    holdsAscii = holdsAscii || static_cast<unsigned char>(b) < 0x80;
                }
                ASSERT_EQ(holdsAscii, search_detail::foldsTowardAscii(cp)) << std::hex << c;
            }
            // A match ending before c also ends at a cluster start in the key.
            if (search_detail::startsCluster(cp)) {
                ASSERT_TRUE(
                    search_detail::startsCluster(static_cast<char32_t>(reference.char32At(0))))
                    << std::hex << c;
            }
            // Texts may be cut into pieces before any such c.
            if (nfc.hasBoundaryBefore(c)) {
                ASSERT_TRUE(nfd.hasBoundaryBefore(c)) << std::hex << c;
                ASSERT_TRUE(nfc.hasBoundaryBefore(folded.char32At(0))) << std::hex << c;
                ASSERT_TRUE(nfc.hasBoundaryBefore(reference.char32At(0))) << std::hex << c;
                ASSERT_TRUE(nfc.hasBoundaryBefore(foldedOnly.char32At(0))) << std::hex << c;
            }
            icu::UnicodeString decomposition;
            if (nfd.getDecomposition(c, decomposition) &&
                decomposition.indexOf(char16_t{0x345}) >= 0) {
                ASSERT_TRUE(search_detail::needsDecompositionBeforeFolding(cp)) << std::hex << c;
            }
            // Marks keep their place when folded, so folding commutes with
            // canonical reordering.
            if (u_getCombiningClass(c) != 0 && c != 0x345) {
                ASSERT_EQ(foldedOnly, single) << std::hex << c;
            }
        }
    }
}

TEST(FilterBadInput, MalformedBytesMatchNothingButThemselves) {
    const auto items =
        history({"abc\xff"
                 "def",
                 "\xfe", "caf\xc3", "\xef\xbf\xbd"});
    EXPECT_EQ(shown(items, "ABC"), (Texts{"abc\xff"
                                          "def"}));
    EXPECT_EQ(shown(items, "DEF"), (Texts{"abc\xff"
                                          "def"}));
    EXPECT_EQ(shown(items, "cdef"), Texts{});  // the malformed byte is in the way
    EXPECT_EQ(shown(items, "caf"), (Texts{"caf\xc3"}));
    EXPECT_EQ(shown(items, "\ufffd"), (Texts{"\xef\xbf\xbd"}));
    // A malformed query is looked for byte by byte.
    EXPECT_EQ(shown(items, "\xff"), (Texts{"abc\xff"
                                           "def"}));
    EXPECT_EQ(shown(items, "C\xff"), Texts{});
    EXPECT_EQ(shown(items, "\xc3"), (Texts{"caf\xc3"}));
}

TEST(FilterBadInput, NulIsAnOrdinaryCharacter) {
    const std::string withNul("key\0Value", 9);
    const auto items = history({withNul, "key", "value"});
    EXPECT_EQ(shown(items, std::string_view("Y\0v", 3)), (Texts{withNul}));
    EXPECT_EQ(shown(items, "value"), (Texts{withNul, "value"}));
    EXPECT_EQ(shown(items, std::string_view("\0", 1)), (Texts{withNul}));
    EXPECT_TRUE(matches(std::string("\xd0\x94\0\xd0\x94", 5), std::string_view("\xd0\xb4\0", 3)));
}

TEST(FilterBadInput, HugeTextsGiveDefinedResults) {
    constexpr std::size_t kSize = 20U << 20;
    std::string ascii(kSize, 'a');
    ascii.replace(kSize - 6, 6, "Needle");
    std::string cyrillic;
    cyrillic.reserve(kSize);
    while (cyrillic.size() < kSize) {
        cyrillic += "\u0434\u043e\u043c ";
    }
    cyrillic += "\u0418\u0413\u041b\u0410";
    std::string combining = "x";
    while (combining.size() < kSize) {
        combining += "\u0301";
    }
    const std::string garbage(kSize, '\xff');

    const auto items = history({ascii, cyrillic, combining, garbage});
    EXPECT_EQ(shown(items, "NEEDLE").size(), 1U);
    EXPECT_EQ(shown(items, "\u0438\u0433\u043b\u0430").size(), 1U);
    EXPECT_EQ(shown(items, "\u0434\u043e\u043c").size(), 1U);
    EXPECT_EQ(shown(items, "x\u0301\u0301").size(), 0U);  // the sequence goes on
    EXPECT_EQ(shown(items, "\xff\xff").size(), 1U);
    EXPECT_EQ(shown(items, "a").size(), 1U);
}

TEST(FilterBadInput, PeriodicInputsStayLinear) {
    // Quadratic search would take hours on these; linear takes milliseconds.
    const std::string text(1U << 20, 'a');
    std::string needle(1U << 16, 'a');
    needle += 'b';
    EXPECT_FALSE(matches(text, needle));
    std::string umlauts;
    for (int i = 0; i < (1 << 19); ++i) {
        umlauts += "\u00e4";
    }
    std::string umlautNeedle;
    for (int i = 0; i < (1 << 15); ++i) {
        umlautNeedle += "\u00c4";
    }
    umlautNeedle += "b";
    EXPECT_FALSE(matches(umlauts, umlautNeedle));
    EXPECT_TRUE(matches(umlauts + "B", umlautNeedle));
}

TEST(FilterLongTexts, MatchesAcrossThePiecesTextsAreConvertedIn) {
    // Long texts are converted piece by piece; slide a match over the first
    // few piece borders, with and without a mark that spoils it.
    for (std::size_t at = 4090; at < 4100; ++at) {
        for (const std::size_t scale : {1U, 3U, 7U}) {
            const std::string before(at * scale, 'x');
            const std::string hit = before + "\u0414\u041e\u041c" + "yz";
            const std::string spoiled = before + "\u0414\u041e\u041c\u0301" + "yz";
            // U+FE0F may start a piece of its own, yet a match cannot end
            // before it; here the match ends at `at * scale`.
            const std::string selector =
                std::string(at * scale - 9, 'x') + "\u0414\u041e\u041c" + "abc\ufe0fyz";
            // A decomposed letter right at a piece border stays one letter.
            const std::string decomposed = std::string(at * scale - 1, 'x') + "E\u0301yz";
            for (const Route route : {Route::Automatic, Route::General}) {
                EXPECT_TRUE(contains(Text(decomposed), "x\u00e9Y", route)) << at * scale;
                EXPECT_FALSE(contains(Text(decomposed), "xe", route)) << at * scale;
                EXPECT_TRUE(contains(Text(hit), "\u0434\u043e\u043c", route)) << at * scale;
                EXPECT_FALSE(contains(Text(spoiled), "\u0434\u043e\u043c", route)) << at * scale;
                EXPECT_FALSE(contains(Text(selector), "\u0434\u043e\u043cabc", route))
                    << at * scale;
                EXPECT_FALSE(contains(Text(selector), "abc", route)) << at * scale;
                EXPECT_TRUE(contains(Text(hit), "xx\u0434\u043e\u043cY", route)) << at * scale;
                EXPECT_TRUE(contains(Text(hit), "\u043cYZ", route)) << at * scale;
            }
        }
    }
}

TEST(FilterOrder, MatchesKeepTheHistoryOrderAndAppearOnce) {
    const auto items = history({"red apple", "green", "apple pie", "apple apple", "red apple"});
    const auto result = filterItems(items, "APPLE");
    ASSERT_EQ(result.size(), 4U);
    EXPECT_EQ(result[0].id, items[0].id);
    EXPECT_EQ(result[1].id, items[2].id);
    EXPECT_EQ(result[2].id, items[3].id);
    EXPECT_EQ(result[3].id, items[4].id);  // same text, another entry: listed too
    EXPECT_TRUE(result[0].text.sharesStorageWith(items[0].text));
}

TEST(FilterOrder, EmptyHistoryGivesNothing) {
    for (const char* query : {"", " ", "a", "\n", "\u00e9", "\xff"}) {
        EXPECT_TRUE(filterItems({}, query).empty()) << query;
    }
}

}  // namespace
}  // namespace brimlet
