#include "panel/search_filter.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>

#include <random>
#include <string>
#include <vector>

#include "platform/core/byte_search.h"
#include "platform/core/text.h"
#include "support/repeat.h"

namespace brimlet {
namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;
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

using testing::repeat;

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
        {"\u00a0 \u3000\t\u2003", all},
        {"\t beta \t", {"alpha beta", " beta\t"}},
        // Line breaks stay and count; a lone one is a real query.
        {" one\n ", {"one\ntwo"}},
        {"\n", {"one\ntwo", "x\r\ny"}},
        {"\u2028", {}},
        // Inner spaces and tabs are matched exactly.
        {"o words", {"TWO WORDS"}},
        {"two  words", {"two  words"}},
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
        // Case beyond ASCII, with full folding and the Kelvin sign.
        {"en", "ПРИВЕТ, мир", "привет", true},
        {"en", "Straße", "STRASSE", true},
        {"en", "300 \u212a", "300 k", true},
        // Diacritics and width are significant.
        {"en", "caf\u00e9", "cafe", false},
        {"en", "abc", "\uff41\uff42\uff43", false},
        // Precomposed and decomposed forms match both ways.
        {"en", "cafe\u0301 noir", "caf\u00e9", true},
        {"en", "\u1100\u1161\u11a8", "\uac01", true},
        {"en", "xa\u0323\u0307y", "a\u0307\u0323", true},
        {"en", "\u1f80", "\u1f08\u0345", true},
        // A match neither ends nor starts inside a combining sequence.
        {"en", "e\u0301", "e", false},
        {"en", "e\u0301", "\u0301", false},
        {"en", "e\u0301e", "e", true},
        {"en", "\u00e9\u0323", "e\u0323\u0301", true},
        {"en", "\U0001f44d\U0001f3fd", "\U0001f44d", true},
        // Turkish and Azeri pair dotted and dotless I; other locales I and i.
        {"tr", "\u0130STANBUL", "istanbul", true},
        {"tr", "IRMAK", "\u0131rmak", true},
        {"tr", "IRMAK", "irmak", false},
        {"az", "ILK", "ilk", false},
        {"en_US", "IRMAK", "irmak", true},
        {"en_US", "IRMAK", "\u0131rmak", false},
    };
    for (const Case& c : cases) {
        use(icu::Locale(c.locale));
        EXPECT_EQ(matches(c.text, c.query), c.match)
            << c.locale << " text=" << ::testing::PrintToString(c.text)
            << " query=" << ::testing::PrintToString(c.query);
    }
}

TEST(FilterBadInput, MalformedBytesMatchOnlyThemselvesAndNulIsAnOrdinaryCharacter) {
    const Texts withAbc{"abc\xff"s + "def"};
    const auto items =
        history({withAbc[0], "caf\xc3", "\xef\xbf\xbd", "key\0Value"s, "value", "Д\0Д"s});
    const std::vector<std::pair<std::string_view, Texts>> cases = {
        {"ABC", withAbc},
        {"cdef", {}},  // the malformed byte is in the way
        {"caf", {"caf\xc3"}},
        {"\ufffd", {"\xef\xbf\xbd"}},
        // A malformed query is looked for byte by byte.
        {" \xff\t", withAbc},
        {"C\xff", {}},
        {"Y\0v"sv, {"key\0Value"s}},
        {"\0"sv, {"key\0Value"s, "Д\0Д"s}},
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
    EXPECT_EQ(shown(items, "x\u0301\u0301").size(), 0U);  // the sequence goes on
    EXPECT_EQ(shown(items, "\xff\xff").size(), 1U);
    // Deep in a long text, a decomposed letter is one letter and a mark
    // after a match spoils it.
    const std::string tail = std::string(kSize / 16, 'x') + "E\u0301yz \u0414\u041e\u041c\u0301";
    EXPECT_TRUE(matches(tail, "x\u00e9Y"));
    EXPECT_FALSE(matches(tail, "xe"));
    EXPECT_FALSE(matches(tail, "\u0434\u043e\u043c"));

    // Quadratic search would take hours on these; linear takes milliseconds.
    EXPECT_FALSE(matches(std::string(1U << 20, 'a'), std::string(1U << 16, 'a') + 'b'));
    const std::string umlauts = repeat("\u00e4", 1U << 19);
    const std::string umlautNeedle = repeat("\u00c4", 1U << 15) + "b";
    EXPECT_FALSE(matches(umlauts, umlautNeedle));
    EXPECT_TRUE(matches(umlauts + "B", umlautNeedle));
}

// A letter under 90,000 marks of three classes: found whole and in another
// case, never by a part of its cluster.
TEST(FilterMarkStacks, AreFoundOnlyWhole) {
    const std::string marks = repeat("\u0301\u0316\u0357", 30000);
    const std::string crafted = "a" + marks;
    const auto items =
        history({crafted, "plain a", "a" + repeat("\u0316", 20) + repeat("\u0301", 20)});
    EXPECT_EQ(shown(items, "A" + marks), Texts{crafted});
    EXPECT_EQ(shown(items, "a"), Texts{"plain a"});
    EXPECT_EQ(shown(items, "\u00e1"), Texts{});
    EXPECT_EQ(shown(items, "A" + repeat("\u0301\u0316\u0357", 29999)), Texts{});
    // Past 30 marks a run is compared in the order it was written.
    EXPECT_EQ(shown(items, "a" + repeat("\u0301", 20) + repeat("\u0316", 20)), Texts{});
    EXPECT_EQ(shown(items, "a" + repeat("\u0316", 20) + repeat("\u0301", 20)).size(), 1U);
}

TEST(FilterOrder, MatchesKeepTheHistoryOrderAndAppearOnce) {
    const auto items = history({"red apple", "green", "apple pie", "apple apple", "red apple"});
    // The same text in another entry is listed too.
    EXPECT_EQ(filterItems(items, "APPLE"),
              (std::vector<ClipItem>{items[0], items[2], items[3], items[4]}));
}

// Every search path this build and processor have agrees with memmem: with
// needles of 1, 2, 3 and many bytes, at every place in texts that end
// anywhere within or past the blocks the vector paths read, from any
// starting point, with NULs, 0xFF and broken UTF-8, and with near misses so
// many that the fast path hands over to memmem.
TEST(FilterByteSearch, EveryPathFindsWhatMemmemFinds) {
    using platform::byte_search_detail::findPlain;
    const auto agree = [](std::string_view text, std::string_view needle) {
        // Where the sanitizers see a read of even one byte past the end.
        const std::vector<char> exact(text.begin(), text.end());
        const std::string_view hay(exact.data(), exact.size());
        const platform::ByteSearch search(needle);
        for (const std::size_t from :
             {std::size_t{0}, std::size_t{1}, hay.size() / 2, hay.size(), hay.size() + 1}) {
            const std::size_t expected = findPlain(hay, needle, from);
            for (const auto path : platform::byte_search_detail::paths()) {
                ASSERT_EQ(platform::findOn(path, search, hay, from), expected)
                    << static_cast<int>(path) << " from " << from << " needle "
                    << ::testing::PrintToString(needle) << " in " << ::testing::PrintToString(hay);
            }
        }
    };
    const std::string needle = "\xd0\xb6q\0\xff\xc3zx\xa9"s + repeat("\xd0\xb8y", 30);
    for (const std::size_t size : {1U, 2U, 3U, 9U, 100U}) {
        const std::string_view part = std::string_view(needle).substr(0, size);
        for (std::size_t at = 0; at <= 140; ++at) {
            // A near miss before, the needle at `at`, a text that ends soon after.
            std::string hay(at, '\xd0');
            hay.replace(0, std::min(at, size - 1), part.substr(0, std::min(at, size - 1)));
            hay.append(part).append(at % 7, 'y');
            agree(hay, part);
            agree(hay.substr(0, hay.size() - 1), part);
        }
    }
    std::mt19937 random(24);
    const std::string alphabet = "ab\0\xff\xd0\xb6"s;
    for (int round = 0; round < 500; ++round) {
        std::string hay(random() % 200, ' ');
        for (char& c : hay) {
            c = alphabet[random() % alphabet.size()];
        }
        const std::size_t at = hay.empty() ? 0 : random() % hay.size();
        agree(hay, std::string_view(hay).substr(at, 1 + random() % 4));
        agree(hay, std::string_view(hay).substr(at, 40));
    }
    for (std::size_t pairs = 40; pairs < 240; ++pairs) {
        agree(repeat("ab", pairs) + "aa", repeat("ab", 40) + "aa");
    }
}

}  // namespace
}  // namespace brimlet
