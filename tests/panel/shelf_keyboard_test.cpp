// The panel used from the keyboard: the highlight that Up and Down move, what
// Return does, and how the highlight gets on with the pointer's.
#include <gtest/gtest.h>

#include <QCursor>
#include <QScrollBar>

#include "panel_fixture.h"
#include "platform/ui/menu_bar_extra.h"

namespace brimlet {
namespace {

using Texts = std::vector<std::string>;

class ShelfKeyboardTest : public ::testing::Test, public testing::PanelFixture {
  protected:
    void SetUp() override {
        // Pointer tests start with the pointer away from every window.
        movePointerTo(QPoint(5000, 5000));
        openView();
    }
    void TearDown() override { movePointerTo(QPoint(5000, 5000)); }

    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(search(), key, modifiers);
        QApplication::processEvents();
    }
    void pressTimes(Qt::Key key, int times) {
        for (int i = 0; i < times; ++i) {
            press(key);
        }
    }
    void fill(int count) {
        for (int i = 0; i < count; ++i) {
            copy("entry " + std::to_string(i));
        }
        settle();
    }

    // The pointer really moves: Qt sends enter, leave and motion from it.
    static void movePointerTo(QPoint global) {
        QCursor::setPos(global);
        QApplication::processEvents();
    }
    void movePointerOnto(const ItemRow* row, QPoint offset = {}) const {
        movePointerTo(row->mapToGlobal(row->rect().center() + offset));
    }

    // The texts of the rows that show the highlight; never more than one.
    [[nodiscard]] Texts lit() const {
        Texts out;
        for (const ItemRow* row : rows()) {
            if (row->highlighted()) {
                out.emplace_back(row->item().text.bytes());
            }
        }
        return out;
    }
    [[nodiscard]] std::string clipboard() const {
        return board.contents() ? std::string(board.contents()->bytes()) : "(nothing)";
    }
    // Whether `row` lies wholly in the visible part of the list.
    [[nodiscard]] bool inView(const ItemRow* row) const {
        const QRect shown = list()->viewport()->rect();
        const QRect where(row->mapTo(list()->viewport(), QPoint()), row->size());
        return shown.contains(where);
    }
};

TEST_F(ShelfKeyboardTest, DownAndUpMoveOneHighlightAndStopAtTheEnds) {
    copy("first");
    copy("second");
    copy("third");
    settle();
    EXPECT_TRUE(lit().empty());

    press(Qt::Key_Down);
    EXPECT_EQ(lit(), Texts{"third"});
    QColor hover = QApplication::palette().color(QPalette::Highlight);
    hover.setAlphaF(hover.alphaF() * 0.2F);
    EXPECT_EQ(rowFor("third")->background(), hover);

    press(Qt::Key_Down);
    EXPECT_EQ(lit(), Texts{"second"});
    EXPECT_EQ(rowFor("third")->background().alpha(), 0);
    pressTimes(Qt::Key_Down, 3);
    EXPECT_EQ(lit(), Texts{"first"});
    press(Qt::Key_Up);
    EXPECT_EQ(lit(), Texts{"second"});
    pressTimes(Qt::Key_Up, 3);
    EXPECT_EQ(lit(), Texts{"third"});
    // Keypad arrows are the same keys.
    press(Qt::Key_Down, Qt::KeypadModifier);
    EXPECT_EQ(lit(), Texts{"second"});

    // The keys belong to the list, not to the field's cursor.
    EXPECT_TRUE(search()->hasFocus());
    EXPECT_TRUE(search()->text().isEmpty());
    EXPECT_EQ(board.writes, 0);
}

TEST_F(ShelfKeyboardTest, UpFromNoHighlightGoesToTheFirstRow) {
    copy("older");
    copy("newer");
    settle();
    press(Qt::Key_Up);
    EXPECT_EQ(lit(), Texts{"newer"});
}

TEST_F(ShelfKeyboardTest, ReturnCopiesBackTheHighlightedEntryAndNothingElse) {
    copy("one");
    copy("two");
    copy("three");
    settle();

    // Nothing picked out yet: Return in the field runs nothing.
    press(Qt::Key_Return);
    EXPECT_EQ(board.writes, 0);

    pressTimes(Qt::Key_Down, 1);
    press(Qt::Key_Return);
    EXPECT_EQ(clipboard(), "three");
    EXPECT_EQ(board.writes, 1);
    settle();

    pressTimes(Qt::Key_Down, 3);
    press(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(clipboard(), "one");
    settle();
    // As after a click: the entry is on top, the query and the panel stay.
    EXPECT_EQ(rowTexts(), (Texts{"one", "three", "two"}));
    EXPECT_TRUE(view->isVisible());
    EXPECT_TRUE(search()->hasFocus());
    // The highlight went with its entry to the top.
    EXPECT_EQ(lit(), Texts{"one"});
    EXPECT_EQ(view->highlighted(), store->items()[0].id);

    // Modified Return is not ours, nor is a key held down.
    press(Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyEvent(QTest::Press, search(), Qt::Key_Return, Qt::NoModifier);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString("\r"), true);
    QApplication::sendEvent(search(), &repeat);
    EXPECT_EQ(board.writes, 3);
}

TEST_F(ShelfKeyboardTest, KeysDoNothingWithoutRows) {
    press(Qt::Key_Down);
    press(Qt::Key_Return);
    EXPECT_EQ(board.writes, 0);

    copyAndSettle("kept");
    type("zzz");
    ASSERT_EQ(message()->text(), "No matches");
    press(Qt::Key_Down);
    press(Qt::Key_Up);
    press(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(board.writes, 0);
    EXPECT_EQ(search()->text(), "zzz");
    EXPECT_EQ(view->highlighted(), std::nullopt);
}

TEST_F(ShelfKeyboardTest, TypingGoesOnEditingTheSearchAndStartsFromTheTop) {
    copy("apple pie");
    copy("banana");
    copy("apple juice");
    settle();
    pressTimes(Qt::Key_Down, 2);
    ASSERT_EQ(lit(), Texts{"banana"});

    type("ap");
    EXPECT_EQ(search()->text(), "ap");
    EXPECT_TRUE(search()->hasFocus());
    EXPECT_EQ(rowTexts(), (Texts{"apple juice", "apple pie"}));
    EXPECT_TRUE(lit().empty());

    // Even when the highlighted entry is still shown, the next key starts
    // from the top of the new list.
    pressTimes(Qt::Key_Down, 2);
    ASSERT_EQ(lit(), Texts{"apple pie"});
    type("p");
    EXPECT_TRUE(lit().empty());
    press(Qt::Key_Return);
    EXPECT_EQ(board.writes, 0);
    press(Qt::Key_Down);
    press(Qt::Key_Return);
    EXPECT_EQ(clipboard(), "apple juice");
}

TEST_F(ShelfKeyboardTest, HighlightFollowsItsEntryThroughChangesOfTheHistory) {
    copy("a");
    copy("b");
    copy("c");
    settle();
    pressTimes(Qt::Key_Down, 2);
    ASSERT_EQ(lit(), Texts{"b"});
    const Uuid id = *view->highlighted();

    copyAndSettle("d");
    EXPECT_EQ(rowTexts(), (Texts{"d", "c", "b", "a"}));
    EXPECT_EQ(lit(), Texts{"b"});
    EXPECT_EQ(view->highlighted(), id);
    press(Qt::Key_Down);
    EXPECT_EQ(lit(), Texts{"a"});

    // The entry going takes the highlight with it.
    store->setItems({store->items()[0], store->items()[1]});
    settle();
    EXPECT_TRUE(lit().empty());
    EXPECT_EQ(view->highlighted(), std::nullopt);
    press(Qt::Key_Down);
    EXPECT_EQ(lit(), Texts{"d"});
    QTest::mouseClick(clearAll(), Qt::LeftButton);
    settle();
    EXPECT_EQ(view->highlighted(), std::nullopt);
}

TEST_F(ShelfKeyboardTest, MovingPastTheBuiltRowsBuildsAndScrollsToThem) {
    fill(50);
    ASSERT_LT(list()->builtCount(), 50U);
    QScrollBar* bar = list()->verticalScrollBar();

    for (int i = 49; i >= 0; --i) {
        press(Qt::Key_Down);
        const auto shown = lit();
        ASSERT_EQ(shown, Texts{"entry " + std::to_string(i)});
        EXPECT_TRUE(inView(rowFor(shown[0]))) << shown[0];
    }
    EXPECT_EQ(list()->builtCount(), 50U);
    EXPECT_EQ(bar->value(), bar->maximum());

    // Scrolling goes only as far as it must.
    press(Qt::Key_Up);
    EXPECT_EQ(bar->value(), bar->maximum());
    pressTimes(Qt::Key_Up, 49);
    EXPECT_EQ(lit(), Texts{"entry 49"});
    EXPECT_EQ(bar->value(), 0);

    // A capture keeps the highlighted entry in view as it moves down.
    pressTimes(Qt::Key_Down, 10);
    const std::string target = lit().at(0);
    for (int i = 0; i < 20; ++i) {
        copyAndSettle("more " + std::to_string(i));
        EXPECT_TRUE(inView(rowFor(target))) << i;
    }
    EXPECT_EQ(lit(), Texts{target});
}

TEST_F(ShelfKeyboardTest, PointerAndKeysShareOneHighlight) {
    copy("one");
    copy("two");
    copy("three");
    settle();
    ItemRow* three = rowFor("three");
    ItemRow* two = rowFor("two");

    movePointerOnto(two);
    EXPECT_EQ(lit(), Texts{"two"});
    // A key moves on from where the pointer put it, and the row under the
    // pointer goes dark although the pointer is still there.
    press(Qt::Key_Down);
    EXPECT_EQ(lit(), Texts{"one"});
    EXPECT_TRUE(two->hovering());
    pressTimes(Qt::Key_Up, 2);
    EXPECT_EQ(lit(), Texts{"three"});

    // Moving the pointer on the row below it takes the highlight back.
    movePointerOnto(two, QPoint(3, 0));
    EXPECT_EQ(lit(), Texts{"two"});
    movePointerOnto(three);
    EXPECT_EQ(lit(), Texts{"three"});
    // Off the rows, the pointer's highlight goes.
    movePointerTo(search()->mapToGlobal(search()->rect().center()));
    EXPECT_TRUE(lit().empty());
    EXPECT_EQ(view->highlighted(), std::nullopt);

    // A row that the keys lit stays lit when a pointer that rested on it
    // leaves.
    movePointerOnto(three);
    press(Qt::Key_Down);
    press(Qt::Key_Up);
    ASSERT_EQ(lit(), Texts{"three"});
    movePointerTo(search()->mapToGlobal(search()->rect().center()));
    EXPECT_EQ(lit(), Texts{"three"});
}

TEST_F(ShelfKeyboardTest, ARowAppearingUnderAPointerAtRestLeavesTheHighlightAlone) {
    copy("one");
    copy("two");
    settle();
    movePointerOnto(rowFor("two"));
    pressTimes(Qt::Key_Down, 2);
    ASSERT_EQ(lit(), Texts{"one"});

    // The new entry's row appears right under the pointer.
    copyAndSettle("three");
    ASSERT_EQ(rowTexts(), (Texts{"three", "two", "one"}));
    EXPECT_EQ(lit(), Texts{"one"});
    type("o");
    press(Qt::Key_Down);
    EXPECT_EQ(lit(), Texts{"two"});
}

TEST_F(ShelfKeyboardTest, OpeningPutsTheFocusInTheSearchFieldAndEscClosesFromThere) {
    copy("one");
    copy("two");
    platform::ui::PanelWindow panel(QSize(ShelfView::kWidth, ShelfView::kHeight));
    panel.open(new ShelfView(*store, viewQueue), QPoint(20, 20));
    (void)QTest::qWaitForWindowExposed(&panel);
    QApplication::processEvents();
    auto* field = panel.findChild<QLineEdit*>("search");
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->hasFocus());
    EXPECT_EQ(QApplication::focusWidget(), field);

    QTest::keyClicks(field, "o");
    QTest::keyClick(field, Qt::Key_Down);
    ASSERT_TRUE(panel.isVisible());
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(board.writes, 0);
}

}  // namespace
}  // namespace brimlet
