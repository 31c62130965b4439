#include "platform/ui/verbatim_text.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QTextLayout>
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

// A control as the rows show it: its name, isolated from the text around.
QString mark(const char* name) {
    return QString::fromUtf16(u"\u2066\u2039") + name + QString::fromUtf16(u"\u203A\u2069");
}

TEST(VerbatimText, ShowsMarkupLiterallyBrokenBytesAsReplacementAndControlsAsInertMarks) {
    const std::string markup = "<b>bold</b> &amp; *a* _b_ `c` %d %@ \\n";
    EXPECT_EQ(linesOf(markup), (Lines{{QString::fromStdString(markup), false}}));
    EXPECT_EQ(linesOf(std::string("ab\xff\xfe") + "cd").at(0).text,
              QString::fromUtf16(u"ab\uFFFD\uFFFDcd"));
    EXPECT_TRUE(linesOf("ok\xe2\x82").at(0).text.startsWith("ok"));
    // Controls other than tab and line breaks, and bidi controls, are seen
    // and act on nothing; the row's direction comes from the letters.
    const VerbatimText controls(Text(std::string("\0\x1b[31m\a\t\x7f\u009b\u202Eabc", 17)), 2);
    EXPECT_EQ(controls.lines(kWidth).at(0).text, mark("NUL") + mark("ESC") + "[31m" + mark("BEL") +
                                                     "\t" + mark("DEL") + mark("CSI") +
                                                     mark("RLO") + "abc");
    const auto line = controls.lineLayout(0, kWidth);
    const auto at = [&](QChar c) {
        return line->lineAt(0).cursorToX(static_cast<int>(line->text().indexOf(c)));
    };
    EXPECT_LT(at('R'), at('O'));
    EXPECT_LT(at('O'), at('a'));
    EXPECT_LT(at('a'), at('c'));
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

// Long Hebrew and Arabic: the first word at the right edge of each line, the
// cut at the logical end, its ellipsis whole at the left.
TEST(VerbatimText, RightToLeftTextsStartAtTheRightAndEndInAWholeEllipsisOnTheLeft) {
    for (const char* word : {"\u05DE\u05D9\u05DC\u05D4 ", "\u0643\u0644\u0645\u0629 "}) {
        const VerbatimText row(Text(repeat(word, 40)), 2);
        ASSERT_EQ(row.lines(kWidth).size(), 2U);
        for (std::size_t i = 0; i < 2; ++i) {
            const auto layout = row.lineLayout(i, kWidth);
            const QTextLine line = layout->lineAt(0);
            EXPECT_NEAR(line.cursorToX(0), kWidth, 1) << i;
            EXPECT_GE(line.naturalTextRect().left(), 0) << i;
        }
        // The ellipsis is the last character and the leftmost glyph.
        const auto last = row.lineLayout(1, kWidth);
        const int end = static_cast<int>(last->text().size());
        ASSERT_TRUE(last->text().endsWith(kEllipsis));
        EXPECT_NEAR(last->lineAt(0).cursorToX(end), last->lineAt(0).naturalTextRect().left(), 1);
        EXPECT_GT(last->lineAt(0).cursorToX(end - 1), last->lineAt(0).cursorToX(end) + 3);
    }
}

TEST(VerbatimText, ReadableTextIsBoundedAndSafeForAssistiveTechnology) {
    EXPECT_EQ(readableText("line one\nline two", 100), "line one\nline two");
    EXPECT_EQ(readableText(std::string("a\0b", 3), 100), "a" + mark("NUL") + "b");
    EXPECT_EQ(readableText(std::string(10000, 'y'), 64), QString(64, 'y') + kEllipsis);
}

}  // namespace
}  // namespace brimlet::platform::ui
