// The panel on an in-memory store, shown offscreen: its states and texts,
// its rebuilds, and its use from the keyboard and the pointer. Copies by
// other programs are simulated on a fake clipboard; the store's checks and the
// view's rebuilds run only when a test says so.
//
// Pointer events go through the window, as the platform delivers them, so
// that they reach the widget under the pointer.
#define QTEST_QPA_MOUSE_HANDLING
#include "panel/shelf_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTranslator>
#include <QtTest/QTest>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "history/clip_store.h"
#include "panel/item_row.h"
#include "platform/fakes/fake_pasteboard.h"
#include "platform/fakes/fake_scheduling.h"
#include "platform/ui/application.h"
#include "platform/ui/lazy_stack.h"

namespace brimlet {
namespace {

using Texts = std::vector<std::string>;

class ShelfViewTest : public ::testing::Test {
  protected:
    ShelfViewTest() {
        store = ClipStore::make({
            .generalPasteboard = [this]() -> platform::Pasteboard& { return board; },
            .timers = &timers,
            .mainExecutor = &storeQueue,
        });
        store->start();
    }

    void openView() {
        view = std::make_unique<ShelfView>(*store, viewQueue);
        view->show();
        view->activateWindow();
        (void)QTest::qWaitForWindowActive(view.get());
        QApplication::processEvents();
    }

    // Another program copies `text`; the next poll captures it. The view
    // is not rebuilt until `settle`.
    void copy(const std::string& text) {
        board.copyFromOtherApp(platform::Text(text));
        timers.tick();
        storeQueue.runAll();
    }
    void settle() {
        viewQueue.runAll();
        QApplication::processEvents();
    }
    void copyAll(std::initializer_list<std::string> texts) {
        for (const std::string& text : texts) {
            copy(text);
        }
        settle();
    }
    void fill(int count) {
        for (int i = 0; i < count; ++i) {
            copy("entry " + std::to_string(i));
        }
        settle();
    }
    void type(const QString& text) {
        search()->setFocus();
        QTest::keyClicks(search(), text);
        QApplication::processEvents();
    }

    void SetUp() override {
        // Pointer tests start with the pointer away from every window.
        movePointerTo(QPoint(5000, 5000));
        openView();
    }
    void TearDown() override { movePointerTo(QPoint(5000, 5000)); }

    void press(Qt::Key key, int times = 1, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        for (int i = 0; i < times; ++i) {
            QTest::keyClick(search(), key, modifiers);
            QApplication::processEvents();
        }
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

    [[nodiscard]] QLineEdit* search() const { return view->findChild<QLineEdit*>("search"); }
    [[nodiscard]] QLabel* message() const { return view->findChild<QLabel*>("message"); }
    [[nodiscard]] platform::ui::LazyStack* list() const {
        return view->findChild<platform::ui::LazyStack*>("list");
    }
    [[nodiscard]] QPushButton* clearAll() const {
        return view->findChild<QPushButton*>("clearAll");
    }
    [[nodiscard]] QLabel* count() const { return view->findChild<QLabel*>("count"); }

    // The accent background of a highlighted row.
    static QColor hoverColour() {
        QColor colour = QApplication::palette().color(QPalette::Highlight);
        colour.setAlphaF(colour.alphaF() * 0.2F);
        return colour;
    }
    // The built rows, top to bottom.
    [[nodiscard]] std::vector<ItemRow*> rows() const {
        auto found = list()->findChildren<ItemRow*>();
        std::vector<ItemRow*> out(found.begin(), found.end());
        std::sort(out.begin(), out.end(),
                  [](const ItemRow* a, const ItemRow* b) { return a->y() < b->y(); });
        return out;
    }
    [[nodiscard]] std::vector<std::string> rowTexts() const {
        std::vector<std::string> out;
        for (const ItemRow* row : rows()) {
            out.emplace_back(row->item().text.bytes());
        }
        return out;
    }
    [[nodiscard]] ItemRow* rowFor(const std::string& text) const {
        for (ItemRow* row : rows()) {
            if (row->item().text.bytes() == text) {
                return row;
            }
        }
        return nullptr;
    }

    platform::FakePasteboard board;
    platform::FakeTimerScheduler timers;
    platform::FakeMainExecutor storeQueue;
    platform::FakeMainExecutor viewQueue;
    std::shared_ptr<ClipStore> store;
    std::unique_ptr<ShelfView> view;
};

TEST_F(ShelfViewTest, EmptyHistoryFillsThePanelWithItsMessageWhateverTheQuery) {
    EXPECT_EQ(search()->placeholderText(), "Search");
    EXPECT_TRUE(message()->isVisible());
    EXPECT_FALSE(list()->isVisible());
    EXPECT_EQ(message()->text(), "Nothing copied yet");
    EXPECT_GT(message()->height(), 250);  // it takes the room of the list
    EXPECT_FALSE(clearAll()->isEnabled());
    EXPECT_EQ(count()->text(), "0/50");

    type("abc");
    EXPECT_EQ(message()->text(), "Nothing copied yet");
}

TEST_F(ShelfViewTest, ClearAllEmptiesTheHistoryOnlyAndKeepsTheQuery) {
    copyAll({"alpha", "beta"});
    type("al");
    const std::int64_t counter = board.changeCount();
    QTest::mouseClick(clearAll(), Qt::LeftButton);
    settle();
    EXPECT_TRUE(store->items().empty());
    EXPECT_EQ(message()->text(), "Nothing copied yet");
    EXPECT_FALSE(clearAll()->isEnabled());
    EXPECT_EQ(search()->text(), "al");
    EXPECT_TRUE(search()->hasFocus());
    // The clipboard is left alone.
    EXPECT_EQ(board.clears + board.writes, 0);
    EXPECT_EQ(board.changeCount(), counter);
}

TEST_F(ShelfViewTest, ListsTheHistoryNewestFirstRebuiltOncePerCapture) {
    copyAll({"first", "second", "third"});
    EXPECT_FALSE(message()->isVisible());
    EXPECT_EQ(rowTexts(), (Texts{"third", "second", "first"}));
    EXPECT_EQ(count()->text(), "3/50");

    fill(50);
    EXPECT_EQ(count()->text(), "50/50");
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

TEST_F(ShelfViewTest, RowsAreBuiltAsTheyComeIntoViewAndKeptWithHoverQueryAndScroll) {
    fill(50);
    EXPECT_LT(list()->builtCount(), 50U);
    type("entry");
    QScrollBar* bar = list()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    bar->setValue(bar->maximum() / 2);
    const int position = bar->value();
    QPointer<ItemRow> hovered = rowFor("entry 49");
    QPointer<ItemRow> other = rowFor("entry 48");
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(hovered, &enter);
    ASSERT_TRUE(hovered->hovering());

    copyAll({"entry 50"});
    EXPECT_EQ(search()->text(), "entry");
    EXPECT_TRUE(search()->hasFocus());
    EXPECT_EQ(bar->value(), position);
    EXPECT_EQ(rowFor("entry 49"), hovered.data());
    EXPECT_EQ(rowFor("entry 48"), other.data());
    EXPECT_TRUE(hovered->hovering());

    while (bar->value() < bar->maximum()) {
        bar->setValue(bar->maximum());
        QApplication::processEvents();
    }
    EXPECT_EQ(list()->builtCount(), 50U);
    EXPECT_EQ(rowTexts().back(), "entry 1");

    // The rows of entries that are no longer shown go.
    search()->setText("entry 49");
    EXPECT_EQ(rowFor("entry 49"), hovered.data());
    EXPECT_TRUE(other.isNull());
}

TEST_F(ShelfViewTest, AClickAnywhereInARowsPaddedBoxCopiesItBackOnceAndKeepsTheFocus) {
    copyAll({"first", "second", "third"});
    const ItemRow* row = rowFor("second");
    const QRect box = row->rect();
    for (const QPoint& point :
         {box.topLeft(), box.topRight(), box.bottomLeft(), box.bottomRight(), box.center(),
          QPoint(box.right() - 3, box.center().y()),  // beside the text
          box.topLeft() + QPoint(4, 2)}) {            // in the padding
        board.writes = 0;
        QTest::mouseClick(view.get(), Qt::LeftButton, {}, row->mapTo(view.get(), point));
        EXPECT_EQ(board.writes, 1) << point.x() << "," << point.y();
        EXPECT_EQ(clipboard(), "second");
    }
    EXPECT_TRUE(search()->hasFocus());

    // Pressed inside and released outside is no click.
    const QPoint outside = search()->geometry().center();
    QTest::mousePress(view.get(), Qt::LeftButton, {},
                      rowFor("first")->mapTo(view.get(), QPoint(5, 5)));
    QTest::mouseMove(view.get(), outside);
    QTest::mouseRelease(view.get(), Qt::LeftButton, {}, outside);
    EXPECT_EQ(clipboard(), "second");
}

TEST_F(ShelfViewTest, RowsAreNeverTallerThanTwoLinesWhateverTheirText) {
    std::string zalgo = "z";
    for (int i = 0; i < 300; ++i) {
        zalgo += "\u0301\u0317";
    }
    for (const std::string& text :
         {std::string("plain"),
          std::string("\u202Eright-to-left override without end, long enough to wrap twice"),
          "\u05E9\u05DC\u05D5\u05DD " + std::string(300, 'a'), std::string(2000, '\n') + "x", zalgo,
          "tabs\t\there\tand\tthere\t" + std::string(200, '\t') + "end",
          std::string("nul\0inside", 10), std::string("\xff\xfe\xfd broken"),
          "big " + std::string(std::size_t{20} << 20, 'x')}) {
        copy(text);
    }
    settle();

    const int line = view->fontMetrics().lineSpacing();
    ASSERT_EQ(rows().size(), 9U);
    for (const ItemRow* row : rows()) {
        EXPECT_GE(row->height(), line + 10);
        EXPECT_LE(row->height(), 2 * line + 10);
        EXPECT_EQ(row->width(), list()->viewport()->width());
        EXPECT_EQ(row->layoutDirection(), Qt::LeftToRight);
    }
    EXPECT_EQ(rowFor("plain")->height(), line + 10);
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
}

// The keyboard: the highlight that Up and Down move, what Return does, and
// how the highlight gets on with the pointer's.
class ShelfKeyboardTest : public ShelfViewTest {};

TEST_F(ShelfKeyboardTest, DownAndUpMoveOneHighlightAndStopAtTheEnds) {
    copyAll({"first", "second", "third"});
    EXPECT_TRUE(lit().empty());

    // From none, either key goes to the first row.
    press(Qt::Key_Up);
    EXPECT_EQ(lit(), Texts{"third"});
    EXPECT_EQ(rowFor("third")->background(), hoverColour());

    press(Qt::Key_Down);
    EXPECT_EQ(lit(), Texts{"second"});
    EXPECT_EQ(rowFor("third")->background().alpha(), 0);
    press(Qt::Key_Down, 3);
    EXPECT_EQ(lit(), Texts{"first"});
    press(Qt::Key_Up);
    EXPECT_EQ(lit(), Texts{"second"});
    press(Qt::Key_Up, 3);
    EXPECT_EQ(lit(), Texts{"third"});
    // Keypad arrows are the same keys.
    press(Qt::Key_Down, 1, Qt::KeypadModifier);
    EXPECT_EQ(lit(), Texts{"second"});

    // The keys belong to the list, not to the field's cursor.
    EXPECT_TRUE(search()->hasFocus());
    EXPECT_TRUE(search()->text().isEmpty());
    EXPECT_EQ(board.writes, 0);
}

TEST_F(ShelfKeyboardTest, ReturnCopiesBackTheHighlightedEntryAndNothingElse) {
    press(Qt::Key_Down);
    press(Qt::Key_Return);
    EXPECT_EQ(board.writes, 0);

    copyAll({"one", "two", "three"});
    // Nothing picked out yet: Return in the field runs nothing.
    press(Qt::Key_Return);
    EXPECT_EQ(board.writes, 0);

    press(Qt::Key_Down, 3);
    press(Qt::Key_Return);
    EXPECT_EQ(clipboard(), "one");
    settle();
    // The highlight went with its entry to the top; the keypad's Enter too.
    EXPECT_EQ(rowTexts(), (Texts{"one", "three", "two"}));
    EXPECT_EQ(lit(), Texts{"one"});
    press(Qt::Key_Enter, 1, Qt::KeypadModifier);
    EXPECT_EQ(board.writes, 2);

    // Ctrl+Return is not ours, nor is a key held down.
    press(Qt::Key_Return, 1, Qt::ControlModifier);
    QTest::keyEvent(QTest::Press, search(), Qt::Key_Return, Qt::NoModifier);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString("\r"), true);
    QApplication::sendEvent(search(), &repeat);
    EXPECT_EQ(board.writes, 3);

    // Nor do the keys do anything without matches.
    type("zzz");
    ASSERT_EQ(message()->text(), "No matches");
    EXPECT_TRUE(clearAll()->isEnabled());
    press(Qt::Key_Down);
    press(Qt::Key_Up);
    press(Qt::Key_Enter, 1, Qt::KeypadModifier);
    EXPECT_EQ(board.writes, 3);
    EXPECT_EQ(search()->text(), "zzz");
    EXPECT_EQ(view->highlighted(), std::nullopt);
}

TEST_F(ShelfKeyboardTest, CtrlDigitPicksAVisibleRowAndShiftReturnAlsoCloses) {
    copyAll({"apple pie", "banana", "apple juice", "cherry", "apple tart"});
    type("apple");
    ASSERT_EQ(rowTexts(), (Texts{"apple tart", "apple juice", "apple pie"}));
    // The number counts the rows shown under the filter, not the history.
    press(Qt::Key_2, 1, Qt::ControlModifier);
    EXPECT_EQ(clipboard(), "apple juice");
    EXPECT_EQ(store->items().front().text.bytes(), "apple juice");
    EXPECT_TRUE(view->isVisible());
    settle();
    // Beyond the rows shown, a digit does nothing; nor does it type.
    press(Qt::Key_4, 1, Qt::ControlModifier);
    press(Qt::Key_9, 1, Qt::ControlModifier);
    EXPECT_EQ(board.writes, 1);
    EXPECT_EQ(search()->text(), "apple");

    press(Qt::Key_Down, 3);
    press(Qt::Key_Return, 1, Qt::ShiftModifier);
    EXPECT_EQ(clipboard(), "apple pie");
    EXPECT_FALSE(view->isVisible()) << "Shift+Return leaves the panel open";
}

TEST_F(ShelfViewTest, FooterSaysWhenTheHistoryIsPaused) {
    const auto pausedLabel = [this] { return view->findChild<QLabel*>("paused"); };
    ASSERT_NE(pausedLabel(), nullptr);
    EXPECT_FALSE(pausedLabel()->isVisible());
    store->setPaused(true);
    settle();
    EXPECT_TRUE(pausedLabel()->isVisible());
    EXPECT_EQ(pausedLabel()->text(), "Paused");
    store->setPaused(false);
    settle();
    EXPECT_FALSE(pausedLabel()->isVisible());
}

TEST_F(ShelfKeyboardTest, TypingGoesOnEditingTheSearchAndStartsFromTheTop) {
    copyAll({"apple pie", "banana", "apple juice"});
    press(Qt::Key_Down, 2);
    ASSERT_EQ(lit(), Texts{"banana"});

    type("ap");
    EXPECT_EQ(search()->text(), "ap");
    EXPECT_TRUE(search()->hasFocus());
    EXPECT_EQ(rowTexts(), (Texts{"apple juice", "apple pie"}));
    EXPECT_TRUE(lit().empty());

    // Even when the highlighted entry is still shown, the next key starts
    // from the top of the new list.
    press(Qt::Key_Down, 2);
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
    copyAll({"a", "b", "c"});
    press(Qt::Key_Down, 2);
    ASSERT_EQ(lit(), Texts{"b"});
    const Uuid id = *view->highlighted();

    copyAll({"d"});
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
    press(Qt::Key_Up, 48);
    EXPECT_EQ(lit(), Texts{"entry 49"});
    EXPECT_EQ(bar->value(), 0);

    // A capture keeps the highlighted entry in view as it moves down.
    press(Qt::Key_Down, 10);
    const std::string target = lit().at(0);
    for (int i = 0; i < 20; ++i) {
        copyAll({"more " + std::to_string(i)});
        EXPECT_TRUE(inView(rowFor(target))) << i;
    }
    EXPECT_EQ(lit(), Texts{target});
}

TEST_F(ShelfKeyboardTest, PointerAndKeysShareOneHighlight) {
    copyAll({"one", "two", "three"});
    ItemRow* three = rowFor("three");
    ItemRow* two = rowFor("two");

    movePointerOnto(two);
    EXPECT_EQ(lit(), Texts{"two"});
    EXPECT_EQ(two->background(), hoverColour());
    // A key moves on from where the pointer put it, and the row under the
    // pointer goes dark although the pointer is still there.
    press(Qt::Key_Down);
    EXPECT_EQ(lit(), Texts{"one"});
    EXPECT_TRUE(two->hovering());
    EXPECT_EQ(two->background().alpha(), 0);
    press(Qt::Key_Up, 2);
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

    // Nor does a new row appearing under a pointer at rest take it.
    movePointerOnto(three);
    press(Qt::Key_Down, 2);
    ASSERT_EQ(lit(), Texts{"one"});
    copyAll({"four"});
    ASSERT_EQ(rowTexts(), (Texts{"four", "three", "two", "one"}));
    EXPECT_EQ(lit(), Texts{"one"});
    type("o");
    press(Qt::Key_Down);
    EXPECT_EQ(lit(), Texts{"four"});
}

}  // namespace
}  // namespace brimlet
