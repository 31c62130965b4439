#include "platform/ui/verbatim_text.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <string>

namespace brimlet::platform::ui {
namespace {

using Line = VerbatimText::Line;
constexpr int kWidth = 300;
const QString kEllipsis = QString(QChar(0x2026));

std::vector<Line> linesOf(const std::string& bytes, int width = kWidth) {
    const VerbatimText text(Text(bytes), 2);
    return text.lines(width);
}

TEST(VerbatimText, ShowsMarkupLiterallyBrokenBytesAsReplacementAndNulAsNothing) {
    const std::string markup = "<b>bold</b> &amp; *a* _b_ `c` %d %@ \\n";
    EXPECT_EQ(linesOf(markup), (std::vector<Line>{{QString::fromStdString(markup), false}}));
    EXPECT_EQ(linesOf(std::string("ab\xff\xfe") + "cd").at(0).text,
              QString::fromUtf16(u"ab\uFFFD\uFFFDcd"));
    EXPECT_EQ(linesOf(std::string("before\0after", 12)).at(0).text, "beforeafter");
    EXPECT_TRUE(linesOf("ok\xe2\x82").at(0).text.startsWith("ok"));
}

TEST(VerbatimText, LineBreaksCountTowardsTheTwoLines) {
    EXPECT_EQ(linesOf("a\nb"), (std::vector<Line>{{"a", false}, {"b", false}}));
    EXPECT_EQ(linesOf("a\nb\nc"), (std::vector<Line>{{"a", false}, {"b", true}}));
    EXPECT_EQ(linesOf("\nstarts with a break"),
              (std::vector<Line>{{"", false}, {"starts with a break", false}}));
    EXPECT_EQ(linesOf("dos\r\nline"), (std::vector<Line>{{"dos", false}, {"line", false}}));
    EXPECT_EQ(linesOf("\n\n\n\n"), (std::vector<Line>{{"", false}, {"", true}}));
}

TEST(VerbatimText, LongAndHugeTextsKeepTheirBeginningAndEndInAnEllipsis) {
    std::string words;
    for (int i = 0; i < 200; ++i) {
        words += "word" + std::to_string(i) + " ";
    }
    const auto lines = linesOf(words);
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_TRUE(lines[0].text.startsWith("word0 word1 "));
    EXPECT_TRUE(lines[1].elided);
    const QFontMetricsF metrics(QFont{});
    EXPECT_LE(metrics.horizontalAdvance(lines[1].text + kEllipsis), kWidth);

    // A 20 MB copy is laid out from a prefix, with the same two lines.
    const auto huge = linesOf("head " + std::string(std::size_t{20} << 20, 'x'));
    ASSERT_EQ(huge.size(), 2U);
    EXPECT_EQ(huge[0].text, "head ");
    EXPECT_TRUE(huge[1].text.startsWith("xxxx"));
    EXPECT_TRUE(huge[1].elided);
}

TEST(VerbatimText, InvisibleCharactersAndMarkStacksDoNotHideTheTextAfterThem) {
    // More zero-width spaces than the first prefix holds, then words.
    std::string spaces;
    for (int i = 0; i < 5000; ++i) {
        spaces += "\u200B";
    }
    EXPECT_TRUE(linesOf(spaces + "visible words").at(0).text.endsWith("visible words"));

    std::string stack = "e";
    for (int i = 0; i < 40000; ++i) {
        stack += "\u0301";
    }
    const QString shown = linesOf(stack + " tail").at(0).text;
    EXPECT_TRUE(shown.startsWith(QString::fromUtf16(u"e\u0301")));
    EXPECT_TRUE(shown.endsWith(" tail"));
    EXPECT_LE(shown.size(), 1 + 16 + 5);  // stacks are cut short
}

TEST(VerbatimText, ReadableTextIsBoundedAndSafeForAssistiveTechnology) {
    EXPECT_EQ(readableText("line one\nline two", 100), "line one\nline two");
    EXPECT_EQ(readableText(std::string("a\0b", 3), 100), "ab");
    const QString cut = readableText(std::string(10000, 'y'), 64);
    EXPECT_EQ(cut, QString(64, 'y') + kEllipsis);
}

}  // namespace
}  // namespace brimlet::platform::ui
