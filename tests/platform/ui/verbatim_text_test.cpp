#include "platform/ui/verbatim_text.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <string>

#include "support/repeat.h"

namespace brimlet::platform::ui {
namespace {

using Line = VerbatimText::Line;
using Lines = std::vector<Line>;
constexpr int kWidth = 300;
const QString kEllipsis = QString(QChar(0x2026));

Lines linesOf(const std::string& bytes) {
    return VerbatimText(Text(bytes), 2).lines(kWidth);
}

using testing::repeat;

TEST(VerbatimText, ShowsMarkupLiterallyBrokenBytesAsReplacementAndNulAsNothing) {
    const std::string markup = "<b>bold</b> &amp; *a* _b_ `c` %d %@ \\n";
    EXPECT_EQ(linesOf(markup), (Lines{{QString::fromStdString(markup), false}}));
    EXPECT_EQ(linesOf(std::string("ab\xff\xfe") + "cd").at(0).text,
              QString::fromUtf16(u"ab\uFFFD\uFFFDcd"));
    EXPECT_EQ(linesOf(std::string("before\0after", 12)).at(0).text, "beforeafter");
    EXPECT_TRUE(linesOf("ok\xe2\x82").at(0).text.startsWith("ok"));
}

TEST(VerbatimText, LineBreaksCountTowardsTheTwoLines) {
    EXPECT_EQ(linesOf("a\nb\nc"), (Lines{{"a", false}, {"b", true}}));
    EXPECT_EQ(linesOf("\nstarts with a break"),
              (Lines{{"", false}, {"starts with a break", false}}));
    EXPECT_EQ(linesOf("dos\r\nline"), (Lines{{"dos", false}, {"line", false}}));
    EXPECT_EQ(linesOf("\n\n\n\n"), (Lines{{"", false}, {"", true}}));
}

TEST(VerbatimText, LongHugeAndInvisibleTextsShowTheirBeginningInTwoLines) {
    const Lines words = linesOf(repeat("word ", 200));
    ASSERT_EQ(words.size(), 2U);
    EXPECT_TRUE(words[1].elided);
    EXPECT_LE(QFontMetricsF(QFont{}).horizontalAdvance(words[1].text + kEllipsis), kWidth);
    // A 20 MB copy is laid out from a prefix, with the same two lines.
    const Lines huge = linesOf("head " + std::string(std::size_t{20} << 20, 'x'));
    ASSERT_EQ(huge.size(), 2U);
    EXPECT_EQ(huge[0].text, "head ");
    EXPECT_TRUE(huge[1].text.startsWith("xxxx") && huge[1].elided);

    // Zero-width spaces and mark stacks do not hide the text after them.
    EXPECT_TRUE(
        linesOf(repeat("\u200B", 5000) + "visible words").at(0).text.endsWith("visible words"));
    const QString stack = linesOf("e" + repeat("\u0301", 40000) + " tail").at(0).text;
    EXPECT_TRUE(stack.startsWith(QString::fromUtf16(u"e\u0301")) && stack.endsWith(" tail"));
    EXPECT_LE(stack.size(), 1 + 16 + 5);  // stacks are cut short
}

TEST(VerbatimText, ReadableTextIsBoundedAndSafeForAssistiveTechnology) {
    EXPECT_EQ(readableText("line one\nline two", 100), "line one\nline two");
    EXPECT_EQ(readableText(std::string("a\0b", 3), 100), "ab");
    EXPECT_EQ(readableText(std::string(10000, 'y'), 64), QString(64, 'y') + kEllipsis);
}

}  // namespace
}  // namespace brimlet::platform::ui
