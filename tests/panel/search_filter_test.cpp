#include "panel/search_filter.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/core/text.h"

namespace brimlet {
namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;
using platform::CaseRules;
using Texts = std::vector<std::string>;

std::vector<ClipItem> history(const Texts& texts) {
    std::vector<ClipItem> items;
    for (const auto& text : texts) {
        items.push_back({Uuid::random(), Text(text)});
    }
    return items;
}

Texts shown(const std::vector<ClipItem>& items, std::string_view query) {
    Texts out;
    for (const ClipItem& item : filterItems(items, query)) {
        out.emplace_back(item.text.bytes());
    }
    return out;
}

std::string repeat(std::string_view piece, std::size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

bool matches(std::string_view text, std::string_view query) {
    return !filterItems(history({std::string(text)}), query).empty();
}

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

TEST(FilterQuery, IsTrimmedOfSpacesAndTabsOnlyAndMatchedAsTyped) {
    const Texts all{"alpha beta", " beta\t",    "one\ntwo", "x\r\ny",
                    "two  words", "two\twords", "TWO WORDS"};
    const auto items = history(all);
    const std::vector<std::pair<std::string_view, Texts>> cases = {
        {"", all},
        {" \t\t", all},
        {"\u00a0 \u3000\t\u2003", all},
        {"beta", {"alpha beta", " beta\t"}},
        {"\t beta \t", {"alpha beta", " beta\t"}},
        {"\u00a0beta\u3000", {"alpha beta", " beta\t"}},
        // Line breaks stay and count; a lone one is a real query.
        {" one\n ", {"one\ntwo"}},
        {"\n", {"one\ntwo", "x\r\ny"}},
        {" \r\n\t", {"x\r\ny"}},
        {"\u2028", {}},
        // Inner spaces and tabs are matched exactly.
        {"o words", {"TWO WORDS"}},
        {"two  words", {"two  words"}},
        {"two\twords", {"two\twords"}},
        {"two\u00a0words", {}},
    };
    for (const auto& [query, expected] : cases) {
        EXPECT_EQ(shown(items, query), expected) << ::testing::PrintToString(query);
    }
}

TEST_F(FilterLocale, CaseIsIgnoredAccentsAndWidthCountCanonicalFormsAreEqual) {
    struct Case {
        const char* locale;
        std::string_view text;
        std::string_view query;
        bool match;
    };
    const Case cases[] = {
        // Case, both ways and beyond ASCII, with full folding.
        {"en", "Hello World", "hElLo wOrLd", true},
        {"en", "ПРИВЕТ, мир", "привет", true},
        {"en", "ＡＢＣ", "ａｂｃ", true},  // full-width letters have case too
        {"en", "Straße", "STRASSE", true},
        {"en", "STRASSE", "stra\u00dfe", true},
        {"en", "300 \u212a", "300 k", true},
        // Diacritics and width are significant.
        {"en", "caf\u00e9", "cafe", false},
        {"en", "abc", "\uff41\uff42\uff43", false},
        {"en", "\u30ab", "\uff76", false},
        {"en", "R\u00c9SUM\u00c9", "r\u00e9sum\u00e9", true},
        // Precomposed and decomposed forms match both ways.
        {"en", "cafe\u0301 noir", "caf\u00e9", true},
        {"en", "caf\u00e9 noir", "cafe\u0301", true},
        {"en", "CAFE\u0301", "caf\u00e9", true},
        {"en", "\u1100\u1161\u11a8", "\uac01", true},
        {"en", "xa\u0323\u0307y", "a\u0307\u0323", true},
        {"en", "\u212b", "\u00e5", true},
        {"en", "\u1f80", "\u1f08\u0345", true},
        {"en", "\u03b1\u0345\u0301", "\u1fb4", true},
        // A match neither ends nor starts inside a combining sequence.
        {"en", "e\u0301", "e", false},
        {"en", "q\u0301", "q", false},
        {"en", "\u00e9\u0323", "\u00e9", false},
        {"en", "a\u200d", "a", false},
        {"en", "e\u0301", "\u0301", false},
        {"en", "cafe\u0301", "caf", true},
        {"en", "e\u0301e", "e", true},
        {"en", "\u00e9\u0323", "e\u0323\u0301", true},
        {"en", "\U0001f44d\U0001f3fd", "\U0001f44d", true},
        {"en", "\u0301 at the start", "\u0301", true},
        // Turkish and Azeri pair dotted and dotless I; other locales I and i.
        {"tr", "\u0130STANBUL", "istanbul", true},
        {"tr", "istanbul", "\u0130STANBUL", true},
        {"tr", "I\u0307STANBUL", "istanbul", true},
        {"tr", "IRMAK", "\u0131rmak", true},
        {"tr", "IRMAK", "irmak", false},
        {"tr", "\u0130stanbul", "Istanbul", false},
        {"tr", "STRASSE", "stra\u00dfe", true},
        {"az", "\u0130LK", "ilk", true},
        {"az", "ILK", "ilk", false},
        {"en_US", "IRMAK", "irmak", true},
        {"en_US", "IRMAK", "\u0131rmak", false},
        {"en_US", "\u0130STANBUL", "istanbul", false},
        {"en_US", "\u0130STANBUL", "i\u0307stanbul", true},
    };
    for (const Case& c : cases) {
        use(icu::Locale(c.locale));
        EXPECT_EQ(matches(c.text, c.query), c.match)
            << c.locale << " text=" << ::testing::PrintToString(c.text)
            << " query=" << ::testing::PrintToString(c.query);
    }
}

// The textbook matcher: both sides folded and normalised by ICU's
// UnicodeString, malformed bytes as 0xFF, every occurrence tried in turn.
std::string referenceKey(std::string_view bytes, bool turkic) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2& nfc = *icu::Normalizer2::getNFCInstance(status);
    const icu::Normalizer2& nfd = *icu::Normalizer2::getNFDInstance(status);
    std::string key;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t end = pos;
        while (end < bytes.size()) {
            std::size_t next = end;
            if (platform::decodeUtf8(bytes, next) < 0) {
                break;
            }
            end = next;
        }
        icu::UnicodeString run =
            nfd.normalize(icu::UnicodeString::fromUTF8(icu::StringPiece(
                              bytes.data() + pos, static_cast<int32_t>(end - pos))),
                          status);
        if (turkic) {
            run.toLower(icu::Locale("tr"));
        }
        run.foldCase(turkic ? U_FOLD_CASE_EXCLUDE_SPECIAL_I : U_FOLD_CASE_DEFAULT);
        nfc.normalize(run, status).toUTF8String(key);
        if (end < bytes.size()) {
            key += '\xff';
            ++end;
        }
        pos = end;
    }
    EXPECT_TRUE(U_SUCCESS(status));
    return key;
}

bool referenceMatch(std::string_view text, std::string_view query, bool turkic) {
    const std::string_view needle = platform::trimSpacesAndTabs(query);
    if (needle.empty()) {
        return true;
    }
    if (!platform::isValidUtf8(needle)) {
        return text.find(needle) != std::string_view::npos;
    }
    const std::string key = referenceKey(text, turkic);
    const std::string q = referenceKey(needle, turkic);
    const auto clusterAt = [](std::string_view s, std::size_t at) {
        if (at >= s.size() || static_cast<unsigned char>(s[at]) < 0x80) {
            return true;
        }
        const std::int32_t c = platform::decodeUtf8(s, at);
        return c < 0 || search_detail::startsCluster(static_cast<char32_t>(c));
    };
    for (std::size_t at = 0; (at = key.find(q, at)) != std::string::npos; ++at) {
        if ((at == 0 || clusterAt(q, 0)) && clusterAt(key, at + q.size())) {
            return true;
        }
    }
    return false;
}

// Random texts and queries built to trip the matcher, against the reference.
TEST_F(FilterLocale, AgreesWithTheTextbookMatcher) {
    const std::vector<std::string_view> pieces = {
        "a",      "A",      "k",       "K",      "s",      "S",      "i",      "I",
        "e",      "st",     "fi",      "ss",     "n",      ";",      "`",      " ",
        "\n",     "\u212a", "\u017f",  "\u00df", "\u1e9e", "\ufb01", "\ufb05", "\u0149",
        "\u1e9a", "\u037e", "\u1fef",  "\u0130", "\u0131", "\u0301", "\u0307", "\u0345",
        "\u200d", "\u00e9", "e\u0301", "\u1f80", "\uff41", "\xff",   "\xc3",   "\xe2\x84",
        "\0"sv,   "\u0903", "\u1161",  "\u0627", "\u0434", "\u0414", "\u034f", "\u0316"};

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
        const bool turkic = std::string_view(locale) == "tr";
        int found = 0;
        for (int round = 0; round < 4000; ++round) {
            const std::string text = compose(1 + round % 9);
            const std::string query = compose(1 + round % 3);
            const bool match = matches(text, query);
            ASSERT_EQ(match, referenceMatch(text, query, turkic))
                << locale << " text=" << testing::PrintToString(text)
                << " query=" << testing::PrintToString(query);
            found += match ? 1 : 0;
        }
        EXPECT_GT(found, 200) << "too few matches to mean anything";
    }
}

// A match that ends before a character that starts a cluster also ends at
// a cluster start in the key: checked for every code point.
TEST(FilterTables, ClusterStartsSurviveFolding) {
    for (const CaseRules rules : {CaseRules::Standard, CaseRules::Turkic}) {
        for (UChar32 c = 0x80; c <= 0x10FFFF; ++c) {
            if ((c >= 0xD800 && c <= 0xDFFF) ||
                !search_detail::startsCluster(static_cast<char32_t>(c))) {
                continue;
            }
            std::string utf8;
            icu::UnicodeString(c).toUTF8String(utf8);
            const std::string key = platform::searchKeyOf(utf8, rules);
            std::size_t pos = 0;
            const std::int32_t first = platform::decodeUtf8(key, pos);
            ASSERT_TRUE(search_detail::startsCluster(static_cast<char32_t>(first)))
                << std::hex << c;
        }
    }
}

TEST(FilterBadInput, MalformedBytesMatchOnlyThemselvesAndNulIsAnOrdinaryCharacter) {
    const Texts withAbc{"abc\xff"s + "def"};
    const auto items =
        history({withAbc[0], "caf\xc3", "\xef\xbf\xbd", "key\0Value"s, "value", "Д\0Д"s});
    const std::vector<std::pair<std::string_view, Texts>> cases = {
        {"ABC", withAbc},
        {"DEF", withAbc},
        {"cdef", {}},  // the malformed byte is in the way
        {"caf", {"caf\xc3"}},
        {"\ufffd", {"\xef\xbf\xbd"}},
        // A malformed query is looked for byte by byte.
        {"\xff", withAbc},
        {" \xff\t", withAbc},
        {"C\xff", {}},
        {"\xc3", {"caf\xc3"}},
        {"Y\0v"sv, {"key\0Value"s}},
        {"value", {"key\0Value"s, "value"}},
        {"\0"sv, {"key\0Value"s, "Д\0Д"s}},
        {"д\0"sv, {"Д\0Д"s}},
    };
    for (const auto& [query, expected] : cases) {
        EXPECT_EQ(shown(items, query), expected) << ::testing::PrintToString(query);
    }
}

TEST(FilterBadInput, HugeAndPeriodicInputsGiveDefinedResults) {
    constexpr std::size_t kSize = 20U << 20;
    std::string ascii(kSize, 'a');
    ascii.replace(kSize - 6, 6, "Needle");
    const auto items =
        history({ascii, repeat("\u0434\u043e\u043c ", kSize / 7) + "\u0418\u0413\u041b\u0410",
                 "x" + repeat("\u0301", kSize / 2), std::string(kSize, '\xff')});
    EXPECT_EQ(shown(items, "NEEDLE").size(), 1U);
    EXPECT_EQ(shown(items, "\u0438\u0433\u043b\u0430").size(), 1U);
    EXPECT_EQ(shown(items, "\u0434\u043e\u043c").size(), 1U);
    EXPECT_EQ(shown(items, "x\u0301\u0301").size(), 0U);  // the sequence goes on
    EXPECT_EQ(shown(items, "\xff\xff").size(), 1U);
    EXPECT_EQ(shown(items, "a").size(), 1U);

    // Quadratic search would take hours on these; linear takes milliseconds.
    EXPECT_FALSE(matches(std::string(1U << 20, 'a'), std::string(1U << 16, 'a') + 'b'));
    const std::string umlauts = repeat("\u00e4", 1U << 19);
    const std::string umlautNeedle = repeat("\u00c4", 1U << 15) + "b";
    EXPECT_FALSE(matches(umlauts, umlautNeedle));
    EXPECT_TRUE(matches(umlauts + "B", umlautNeedle));
}

TEST(FilterLongTexts, MatchesAcrossThePiecesTextsAreConvertedIn) {
    // Keys are made piece by piece; slide a match over the first two piece
    // borders, with and without a mark that spoils it.
    for (std::size_t at = 65530; at < 65541; ++at) {
        for (const std::size_t scale : {1U, 2U}) {
            const std::string before(at * scale, 'x');
            const std::string hit = before + "\u0414\u041e\u041c" + "yz";
            const std::string spoiled = before + "\u0414\u041e\u041c\u0301" + "yz";
            // U+FE0F may start a piece of its own, yet a match cannot end
            // before it; here the match ends at `at * scale`.
            const std::string selector =
                std::string(at * scale - 9, 'x') + "\u0414\u041e\u041c" + "abc\ufe0fyz";
            // A decomposed letter right at a piece border stays one letter.
            const std::string decomposed = std::string(at * scale - 1, 'x') + "E\u0301yz";
            EXPECT_TRUE(matches(decomposed, "x\u00e9Y")) << at * scale;
            EXPECT_FALSE(matches(decomposed, "xe")) << at * scale;
            EXPECT_TRUE(matches(hit, "\u0434\u043e\u043c")) << at * scale;
            EXPECT_FALSE(matches(spoiled, "\u0434\u043e\u043c")) << at * scale;
            EXPECT_FALSE(matches(selector, "\u0434\u043e\u043cabc")) << at * scale;
            EXPECT_FALSE(matches(selector, "abc")) << at * scale;
            EXPECT_TRUE(matches(hit, "xx\u0434\u043e\u043cY")) << at * scale;
            EXPECT_TRUE(matches(hit, "\u043cYZ")) << at * scale;
        }
    }
}

// A letter under 90,000 marks of three classes: found whole and in another
// case, never by a part of its cluster, and a keystroke makes no key but
// the query's.
TEST(FilterMarkStacks, AreFoundWholeAndCostOnlyTheQuerysKey) {
    const std::string marks = repeat("\u0301\u0316\u0357", 30000);
    const std::string crafted = "a" + marks;
    const auto items =
        history({crafted, "plain a", "a" + repeat("\u0316", 20) + repeat("\u0301", 20)});
    const std::uint64_t made = platform::text_detail::keysMade();
    EXPECT_EQ(shown(items, "A" + marks), Texts{crafted});
    EXPECT_EQ(platform::text_detail::keysMade(), made + 1);
    EXPECT_EQ(shown(items, "a"), Texts{"plain a"});
    EXPECT_EQ(shown(items, "\u00e1"), Texts{});
    EXPECT_EQ(shown(items, "A" + repeat("\u0301\u0316\u0357", 29999)), Texts{});
    // Past 30 marks a run is compared in the order it was written.
    EXPECT_EQ(shown(items, "a" + repeat("\u0301", 20) + repeat("\u0316", 20)), Texts{});
    EXPECT_EQ(shown(items, "a" + repeat("\u0316", 20) + repeat("\u0301", 20)).size(), 1U);
}

TEST(FilterOrder, MatchesKeepTheHistoryOrderAndAppearOnce) {
    const auto items = history({"red apple", "green", "apple pie", "apple apple", "red apple"});
    const auto result = filterItems(items, "APPLE");
    // The same text in another entry is listed too.
    ASSERT_EQ(result, (std::vector<ClipItem>{items[0], items[2], items[3], items[4]}));
    EXPECT_TRUE(result[0].text.sharesStorageWith(items[0].text));
}

}  // namespace
}  // namespace brimlet
