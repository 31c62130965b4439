#include "platform/ui/lazy_stack.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QScrollBar>
#include <QtTest/QTest>

namespace brimlet::platform::ui {
namespace {

std::vector<LazyStack::Row> labelRows(int count) {
    std::vector<LazyStack::Row> rows;
    for (int i = 0; i < count; ++i) {
        const QString text = QString::number(i);
        rows.push_back({text.toUtf8(), [text] {
                            auto* label = new QLabel(text);
                            label->setFixedHeight(20);
                            return label;
                        }});
    }
    return rows;
}

TEST(LazyStack, RowBuildsThroughItsIndexAndScrollingShowsItWhole) {
    LazyStack stack(2);
    stack.resize(120, 100);
    stack.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&stack));
    stack.setRows(labelRows(100));
    ASSERT_LT(stack.builtCount(), 30U);

    QWidget* row = stack.row(80);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(stack.builtCount(), 81U);
    EXPECT_EQ(stack.builtRow("80"), row);
    EXPECT_NE(stack.builtRow("79"), nullptr);
    EXPECT_EQ(stack.row(100), nullptr);

    stack.scrollToRow(80);
    QApplication::processEvents();
    const QRect where(row->mapTo(stack.viewport(), QPoint()), row->size());
    EXPECT_TRUE(stack.viewport()->rect().contains(where));
    // Flush with the bottom edge: no further than it must.
    EXPECT_EQ(where.bottom(), stack.viewport()->rect().bottom());
    const int position = stack.verticalScrollBar()->value();
    stack.scrollToRow(79);
    EXPECT_EQ(stack.verticalScrollBar()->value(), position);
}

}  // namespace
}  // namespace brimlet::platform::ui
