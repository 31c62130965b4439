#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

namespace brimlet::platform {
namespace {

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

TEST(TextEquality, MalformedBytesEqualOnlyThemselves) {
    EXPECT_FALSE(Text("\xff") == Text("\xfe"));
    EXPECT_FALSE(Text("\xff") == Text("\xef\xbf\xbd"));  // not the replacement character
    EXPECT_FALSE(Text("caf\u00e9\xff") == Text("cafe\u0301\xff"));
    EXPECT_FALSE(Text("\xed\xa0\x80").isValidUtf8());  // surrogate
    EXPECT_FALSE(Text("\xc0\xaf").isValidUtf8());      // overlong
}

TEST(Blank, IsExactlyTheWhitespaceAndNewlineSet) {
    for (const char* blank : {"", " ", "\t", "\n\r", "\v\f", "\u0085", "\u00a0", "\u1680",
                              "\u2000\u200a", "\u2028", "\u2029", "\u202f", "\u205f", "\u3000"}) {
        EXPECT_TRUE(isBlank(blank)) << blank;
    }
    for (const char* notBlank :
         {"x", "\u200b", "\ufeff", "\u180e", "\u2060", "\u200e", "\x01", "\xff", " \xa0 "}) {
        EXPECT_FALSE(isBlank(notBlank)) << notBlank;
    }
    EXPECT_FALSE(isBlank(std::string("\0", 1)));
}

}  // namespace
}  // namespace brimlet::platform
