#include "panel/shelf_view.h"

#include <gtest/gtest.h>

#include <QPointer>
#include <QScrollBar>
#include <QTimer>
#include <QTranslator>

#include "panel_fixture.h"
#include "platform/ui/application.h"

namespace brimlet {
namespace {

using Texts = std::vector<std::string>;

class ShelfViewTest : public ::testing::Test, public testing::PanelFixture {
  protected:
    void SetUp() override { openView(); }

    void fill(int count) {
        for (int i = 0; i < count; ++i) {
            copy("entry " + std::to_string(i));
        }
        settle();
    }
};

TEST_F(ShelfViewTest, HasThePanelsSizeAndShowsEmptyHistoryWhateverTheQuery) {
    EXPECT_EQ(view->size(), QSize(340, 420));
    EXPECT_EQ(search()->placeholderText(), "Search");
    EXPECT_TRUE(search()->text().isEmpty());
    EXPECT_TRUE(message()->isVisible());
    EXPECT_FALSE(list()->isVisible());
    EXPECT_EQ(message()->text(), "Nothing copied yet");
    EXPECT_FALSE(clearAll()->isEnabled());
    EXPECT_EQ(count()->text(), "0/50");

    type("abc");
    EXPECT_EQ(message()->text(), "Nothing copied yet");
}

TEST_F(ShelfViewTest, MessageTakesAllRoomBetweenSearchAndFooter) {
    const QRect field = search()->geometry();
    const QRect text = message()->geometry();
    EXPECT_EQ(field.topLeft(), QPoint(12, 12));
    EXPECT_EQ(field.width(), 316);
    EXPECT_EQ(text.top(), field.bottom() + 1 + 8);
    EXPECT_EQ(text.width(), 316);
    EXPECT_GT(text.height(), 250);
    EXPECT_EQ(message()->alignment(), Qt::AlignCenter);
    EXPECT_EQ(clearAll()->geometry().bottom(), 420 - 12 - 1);
}

TEST_F(ShelfViewTest, ListsTheHistoryNewestFirstAndCountsItAgainstTheCapacity) {
    copyAndSettle("first");
    copyAndSettle("second");
    copyAndSettle("third");
    EXPECT_TRUE(list()->isVisible());
    EXPECT_FALSE(message()->isVisible());
    EXPECT_EQ(rowTexts(), (Texts{"third", "second", "first"}));
    EXPECT_TRUE(clearAll()->isEnabled());
    EXPECT_EQ(count()->text(), "3/50");
}

TEST_F(ShelfViewTest, FullHistoryCountsFiftyOfFifty) {
    fill(50);
    EXPECT_EQ(count()->text(), "50/50");
    copyAndSettle("one more");
    EXPECT_EQ(count()->text(), "50/50");
}

TEST_F(ShelfViewTest, SearchFiltersLiveThroughTheFilter) {
    copy("Apple pie");
    copy("banana");
    copy("pineapple");
    settle();
    type("APPLE");
    EXPECT_EQ(rowTexts(), (Texts{"pineapple", "Apple pie"}));
    EXPECT_EQ(count()->text(), "3/50");

    search()->setText(" \t banana\t ");
    EXPECT_EQ(rowTexts(), (Texts{"banana"}));

    search()->setText("  \t ");
    EXPECT_EQ(rowTexts(), (Texts{"pineapple", "banana", "Apple pie"}));

    search()->setText("cherry");
    EXPECT_FALSE(list()->isVisible());
    EXPECT_EQ(message()->text(), "No matches");
    EXPECT_TRUE(clearAll()->isEnabled());
}

TEST_F(ShelfViewTest, ReturnInTheSearchFieldRunsNothing) {
    copyAndSettle("kept");
    type("zz");
    QTest::keyClick(search(), Qt::Key_Return);
    QTest::keyClick(search(), Qt::Key_Enter);
    search()->setText("ke");
    QTest::keyClick(search(), Qt::Key_Return);
    settle();
    EXPECT_EQ(board.writes, 0);
    EXPECT_EQ(store->items().size(), 1U);
    EXPECT_EQ(search()->text(), "ke");
    EXPECT_TRUE(view->isVisible());
}

TEST_F(ShelfViewTest, ClearAllEmptiesTheHistoryOnlyAndKeepsTheQuery) {
    copy("alpha");
    copy("beta");
    settle();
    type("al");
    const std::int64_t counter = board.changeCount();

    QTest::mouseClick(clearAll(), Qt::LeftButton);
    settle();

    EXPECT_TRUE(store->items().empty());
    EXPECT_EQ(message()->text(), "Nothing copied yet");
    EXPECT_EQ(search()->text(), "al");
    EXPECT_TRUE(search()->hasFocus());
    EXPECT_EQ(count()->text(), "0/50");
    EXPECT_FALSE(clearAll()->isEnabled());
    // The clipboard is left alone, and its text does not come back.
    EXPECT_EQ(board.clears, 0);
    EXPECT_EQ(board.writes, 0);
    EXPECT_EQ(board.changeCount(), counter);
    ASSERT_TRUE(board.contents().has_value());
    EXPECT_EQ(board.contents()->bytes(), "beta");
    timers.tick();
    storeQueue.runAll();
    settle();
    EXPECT_TRUE(store->items().empty());
}

TEST_F(ShelfViewTest, OneRebuildPerCaptureReadsTheStateAfterIt) {
    fill(50);
    copy("a fifty-first text");  // three notifications: remove, insert, trim
    EXPECT_EQ(viewQueue.pending(), 1U);
    EXPECT_NE(rowTexts().front(), "a fifty-first text");  // not yet rebuilt
    settle();
    EXPECT_EQ(rowTexts().front(), "a fifty-first text");
    EXPECT_EQ(count()->text(), "50/50");

    store->copyBack(store->items()[3]);  // two notifications
    EXPECT_EQ(viewQueue.pending(), 1U);
    settle();
    EXPECT_EQ(viewQueue.pending(), 0U);
}

TEST_F(ShelfViewTest, RowsAreReusedByIdentityAndDroppedWhenTheirEntryLeaves) {
    copy("stays");
    copy("goes");
    settle();
    QPointer<ItemRow> stays = rowFor("stays");
    QPointer<ItemRow> goes = rowFor("goes");
    ASSERT_TRUE(stays && goes);

    copyAndSettle("new on top");
    EXPECT_EQ(rowFor("stays"), stays.data());
    EXPECT_EQ(rowFor("goes"), goes.data());

    type("stay");
    EXPECT_EQ(rowFor("stays"), stays.data());
    EXPECT_TRUE(goes.isNull());
}

TEST_F(ShelfViewTest, RebuildsKeepHoverQueryFocusAndScrollPosition) {
    fill(50);
    type("entry");
    ASSERT_TRUE(search()->hasFocus());
    QScrollBar* bar = list()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    bar->setValue(bar->maximum() / 2);
    const int position = bar->value();
    ItemRow* hovered = rowFor("entry 49");
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(hovered, &enter);
    ASSERT_TRUE(hovered->hovering());

    copyAndSettle("entry 50");

    EXPECT_EQ(search()->text(), "entry");
    EXPECT_TRUE(search()->hasFocus());
    EXPECT_EQ(bar->value(), position);
    EXPECT_EQ(rowFor("entry 49"), hovered);
    EXPECT_TRUE(hovered->hovering());
}

TEST_F(ShelfViewTest, RowsAreBuiltOnlyAsTheyComeIntoView) {
    fill(50);
    const std::size_t built = list()->builtCount();
    EXPECT_LT(built, 50U);
    EXPECT_GT(built, 0U);
    QScrollBar* bar = list()->verticalScrollBar();
    while (bar->value() < bar->maximum()) {
        bar->setValue(bar->maximum());
        QApplication::processEvents();
    }
    EXPECT_EQ(list()->builtCount(), 50U);
    EXPECT_EQ(rowTexts().back(), "entry 0");
}

TEST_F(ShelfViewTest, ClickingARowCopiesItBackAndKeepsTheQuery) {
    copy("one");
    copy("two");
    copy("three");
    settle();
    type("o");
    ItemRow* row = rowFor("one");
    ASSERT_NE(row, nullptr);
    QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(row->width() - 2, row->height() / 2));
    ASSERT_TRUE(board.contents().has_value());
    EXPECT_EQ(board.contents()->bytes(), "one");
    settle();
    EXPECT_EQ(search()->text(), "o");
    EXPECT_EQ(rowTexts(), (Texts{"one", "two"}));
    EXPECT_EQ(rowFor("one"), row);
}

TEST_F(ShelfViewTest, RowsAreNeverTallerThanTwoLinesWhateverTheirText) {
    std::string newlines(2000, '\n');
    std::string zalgo = "z";
    for (int i = 0; i < 300; ++i) {
        zalgo += "\u0301\u0317";
    }
    copy("plain");
    copy("\u202Eright-to-left override without end, long enough to wrap around the row twice");
    copy("\u05E9\u05DC\u05D5\u05DD " + std::string(300, 'a'));
    copy(newlines + "x");
    copy(zalgo);
    copy("tabs\t\t\there\tand\tthere\t" + std::string(200, '\t') + "end");
    copy(std::string("nul\0inside", 10));
    copy("\xff\xfe\xfd broken");
    copy("big " + std::string(std::size_t{20} * 1024 * 1024, 'x'));
    settle();

    const int line = view->fontMetrics().lineSpacing();
    const auto shown = rows();
    ASSERT_EQ(shown.size(), 9U);
    for (const ItemRow* row : shown) {
        EXPECT_GE(row->height(), line + 10);
        EXPECT_LE(row->height(), 2 * line + 10);
        EXPECT_EQ(row->width(), list()->viewport()->width());
        EXPECT_EQ(row->layoutDirection(), Qt::LeftToRight);
    }
    EXPECT_EQ(rowFor("plain")->height(), line + 10);
}

TEST_F(ShelfViewTest, QuitEndsTheEventLoopWithStatusZero) {
    QTimer::singleShot(0, view.get(),
                       [this] { QTest::keyClick(view.get(), Qt::Key_Q, Qt::ControlModifier); });
    // Should the shortcut fail, end the loop anyway with a telling status.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(7); });
    guard.start(5000);
    EXPECT_EQ(QCoreApplication::exec(), 0);
}

TEST_F(ShelfViewTest, GermanCatalogueTranslatesThePanel) {
    QTranslator german;
    ASSERT_TRUE(platform::ui::loadTranslations(german, QLocale(QLocale::German, QLocale::Germany)));
    QCoreApplication::installTranslator(&german);
    copy("eins");
    copy("zwei");
    openView();
    EXPECT_EQ(search()->placeholderText(), "Suchen");
    EXPECT_EQ(clearAll()->text(), QString::fromUtf8("Alle löschen"));
    EXPECT_EQ(view->findChild<QPushButton*>("quit")->text(), "Beenden");
    EXPECT_EQ(count()->text(), "2/50");
    type("drei");
    EXPECT_EQ(message()->text(), "Keine Treffer");
    QTest::mouseClick(clearAll(), Qt::LeftButton);
    settle();
    EXPECT_EQ(message()->text(), "Noch nichts kopiert");
    QCoreApplication::removeTranslator(&german);

    QTranslator none;
    EXPECT_FALSE(platform::ui::loadTranslations(none, QLocale(QLocale::Japanese)));
}

}  // namespace
}  // namespace brimlet
