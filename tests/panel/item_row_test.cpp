// Pointer events go through the window, as the platform delivers them, so
// that enter and leave come from Qt's own tracking.
#define QTEST_QPA_MOUSE_HANDLING
#include "panel/item_row.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QtTest/QTest>
#include <memory>

#include "platform/ui/verbatim_text.h"

namespace brimlet {
namespace {

QColor hoverColour() {
    QColor colour = QApplication::palette().color(QPalette::Highlight);
    colour.setAlphaF(colour.alphaF() * 0.2F);
    return colour;
}

class ItemRowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window.resize(316, 200);
        auto* stack = new QVBoxLayout(&window);
        stack->setContentsMargins(0, 0, 0, 0);
        stack->setSpacing(2);
        field = new QLineEdit;
        stack->addWidget(field);
        for (const char* text : {"first", "second"}) {
            auto* row = new ItemRow(ClipItem{Uuid::random(), Text(text)},
                                    [this, text] { clicks.emplace_back(text); });
            stack->addWidget(row);
            rows.push_back(row);
        }
        stack->addStretch(1);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        field->setFocus();
        // Start outside the rows, once the window has had its enter event.
        QApplication::processEvents();
        QTest::mouseMove(&window, kOutside);
        QApplication::processEvents();
    }

    static constexpr QPoint kOutside{300, 190};
    QWidget window;
    QLineEdit* field = nullptr;
    std::vector<ItemRow*> rows;
    std::vector<std::string> clicks;
};

TEST_F(ItemRowTest, OneLineRowIsOneLinePlusPaddingAndAsWideAsTheList) {
    const int line = rows[0]->fontMetrics().lineSpacing();
    EXPECT_EQ(rows[0]->height(), line + 10);
    EXPECT_EQ(rows[0]->width(), 316);
    const auto* text = rows[0]->findChild<platform::ui::VerbatimText*>();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->geometry(), QRect(8, 5, 300, line));
    EXPECT_EQ(rows[0]->accessibleName(), "first");
}

TEST_F(ItemRowTest, HoverLightsUpOneRowAtATimeWithTheAccentColour) {
    EXPECT_EQ(rows[0]->background().alpha(), 0);
    QTest::mouseMove(&window, rows[0]->geometry().center());
    EXPECT_TRUE(rows[0]->hovering());
    EXPECT_EQ(rows[0]->background(), hoverColour());

    QTest::mouseMove(&window, rows[1]->geometry().topLeft() + QPoint(1, 1));
    EXPECT_FALSE(rows[0]->hovering());
    EXPECT_EQ(rows[0]->background().alpha(), 0);
    EXPECT_TRUE(rows[1]->hovering());
    EXPECT_EQ(rows[1]->background(), hoverColour());

    QTest::mouseMove(&window, kOutside);
    EXPECT_FALSE(rows[1]->hovering());
    EXPECT_EQ(rows[1]->background().alpha(), 0);
}

TEST_F(ItemRowTest, ClickAnywhereInThePaddedBoxRunsTheActionOnce) {
    const QRect box = rows[1]->geometry();
    const std::vector<QPoint> points = {
        box.topLeft(),
        box.topRight(),
        box.bottomLeft(),
        box.bottomRight(),
        box.center(),
        QPoint(box.right() - 3, box.center().y()),  // beside the text
        box.topLeft() + QPoint(4, 2),               // in the padding
    };
    for (const QPoint& point : points) {
        clicks.clear();
        QTest::mouseClick(&window, Qt::LeftButton, {}, point);
        EXPECT_EQ(clicks, std::vector<std::string>{"second"}) << point.x() << "," << point.y();
    }
}

TEST_F(ItemRowTest, PressInsideReleaseOutsideIsNoClick) {
    QTest::mousePress(&window, Qt::LeftButton, {}, rows[0]->geometry().center());
    QTest::mouseMove(&window, kOutside);
    QTest::mouseRelease(&window, Qt::LeftButton, {}, kOutside);
    EXPECT_TRUE(clicks.empty());
}

TEST_F(ItemRowTest, ClickLeavesHoverAndKeyboardFocusAlone) {
    QTest::mouseMove(&window, rows[0]->geometry().center());
    QTest::mouseClick(&window, Qt::LeftButton, {}, rows[0]->geometry().center());
    EXPECT_TRUE(rows[0]->hovering());
    EXPECT_TRUE(field->hasFocus());
}

TEST_F(ItemRowTest, WithAPointerHandlerTheHandlerDecidesTheHighlight) {
    std::vector<bool> told;
    rows[0]->onPointer([&](bool over) { told.push_back(over); });
    QTest::mouseMove(&window, rows[0]->geometry().center());
    QTest::mouseMove(&window, rows[0]->geometry().center() + QPoint(4, 0));
    EXPECT_TRUE(rows[0]->hovering());
    EXPECT_FALSE(rows[0]->highlighted());
    EXPECT_EQ(rows[0]->background().alpha(), 0);
    QTest::mouseMove(&window, kOutside);
    EXPECT_EQ(told, (std::vector<bool>{true, true, false}));

    // Lit from outside, it looks exactly as under the pointer.
    rows[0]->setHighlighted(true);
    EXPECT_EQ(rows[0]->background(), hoverColour());
    EXPECT_FALSE(rows[0]->hovering());
    rows[0]->setHighlighted(false);
    EXPECT_EQ(rows[0]->background().alpha(), 0);
}

}  // namespace
}  // namespace brimlet
