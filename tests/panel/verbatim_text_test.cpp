#include "platform/ui/verbatim_text.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <string>

namespace brimlet::platform::ui {
namespace {

constexpr int kWidth = 300;
const QString kEllipsis = QString(QChar(0x2026));

std::vector<VerbatimText::Line> linesOf(const std::string& bytes, int width = kWidth) {
    const VerbatimText text(Text(bytes), 2);
    return text.lines(width);
}

QString q(const char16_t* s) {
    return QString::fromUtf16(s);
}

TEST(VerbatimText, ShowsMarkupAndFormatCharactersLiterally) {
    const std::string raw = "<b>bold</b> &amp; *a* _b_ `c` %d %@ \\n";
    const auto lines = linesOf(raw);
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(lines[0].text, QString::fromStdString(raw));
    EXPECT_FALSE(lines[0].elided);
}

TEST(VerbatimText, LineBreaksCountTowardsTheTwoLines) {
    using L = VerbatimText::Line;
    EXPECT_EQ(linesOf("a\nb"), (std::vector<L>{{"a", false}, {"b", false}}));
    EXPECT_EQ(linesOf("a\nb\nc"), (std::vector<L>{{"a", false}, {"b", true}}));
    EXPECT_EQ(linesOf("\nstarts with a break"),
              (std::vector<L>{{"", false}, {"starts with a break", false}}));
    EXPECT_EQ(linesOf("dos\r\nline"), (std::vector<L>{{"dos", false}, {"line", false}}));
    EXPECT_EQ(linesOf("\n\n\n\n"), (std::vector<L>{{"", false}, {"", true}}));
}

TEST(VerbatimText, LongTextKeepsItsBeginningAndEndsInAnEllipsis) {
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
}

TEST(VerbatimText, HugeTextsShowTheirFirstTwoLines) {
    // A 20 MB copy is laid out from a prefix, with the same two lines.
    const std::string huge = "head " + std::string(std::size_t{20} * 1024 * 1024, 'x');
    const auto lines = linesOf(huge);
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[0].text, "head ");
    EXPECT_TRUE(lines[1].text.startsWith("xxxx"));
    EXPECT_TRUE(lines[1].elided);
}

TEST(VerbatimText, InvisibleCharactersDoNotHideTheVisibleTextAfterThem) {
    // More zero-width spaces than the first prefix holds, then words.
    std::string text;
    for (int i = 0; i < 5000; ++i) {
        text += "\u200B";
    }
    text += "visible words";
    const auto lines = linesOf(text);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines[0].text.endsWith("visible words"));
}

TEST(VerbatimText, HugeCombiningStacksStayWholeAndShort) {
    std::string text = "e";
    for (int i = 0; i < 40000; ++i) {
        text += "\u0301";  // combining acute accent, two bytes
    }
    text += " tail";
    const auto lines = linesOf(text);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines[0].text.startsWith(q(u"e\u0301")));
    // Stacks are cut short, so the rest of the text still shows.
    EXPECT_TRUE(lines[0].text.endsWith(" tail"));
    EXPECT_LE(lines[0].text.size(), 1 + 16 + 5);
}

TEST(VerbatimText, BrokenBytesShowAsReplacementAndNulNeverCutsTheRest) {
    const auto invalid =
        linesOf(std::string("ab\xff\xfe"
                            "cd"));
    EXPECT_EQ(invalid[0].text, q(u"ab\uFFFD\uFFFDcd"));
    const auto withNul = linesOf(std::string("before\0after", 12));
    EXPECT_EQ(withNul[0].text, "beforeafter");
    const auto truncatedSequence = linesOf(std::string("ok\xe2\x82"));
    EXPECT_TRUE(truncatedSequence[0].text.startsWith("ok"));
}

TEST(VerbatimText, ReadableTextIsBoundedAndSafeForAssistiveTechnology) {
    EXPECT_EQ(readableText("line one\nline two", 100), "line one\nline two");
    EXPECT_EQ(readableText(std::string("a\0b", 3), 100), "ab");
    const QString cut = readableText(std::string(10000, 'y'), 64);
    EXPECT_EQ(cut, QString(64, 'y') + kEllipsis);
}

}  // namespace
}  // namespace brimlet::platform::ui
