// The panel on an in-memory store, shown offscreen: its states and texts,
// its rebuilds, and its use from the keyboard and the pointer. The store's
// checks and the view's rebuilds run only when a test says so.
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
#include "platform/ui/verbatim_text.h"

namespace brimlet {
namespace {

using Texts = std::vector<std::string>;
constexpr QPoint kAway(5000, 5000);

class ShelfViewTest : public ::testing::Test {
  protected:
    ShelfViewTest() {
        store->start();
        movePointerTo(kAway);  // away from every window
        openView();
    }

    void openView() {
        view = std::make_unique<ShelfView>(*store, viewQueue);
        view->show();
        view->activateWindow();
        (void)QTest::qWaitForWindowActive(view.get());
        QApplication::processEvents();
    }
    // Another program copies each text and a poll captures it; then the
    // view is rebuilt.
    void copyAll(const Texts& texts) {
        for (const std::string& text : texts) {
            board.copyFromOtherApp(platform::Text(text));
            timers.tick();
            storeQueue.runAll();
        }
        settle();
    }
    void settle() {
        viewQueue.runAll();
        QApplication::processEvents();
    }
    void fill(int count) {
        Texts texts;
        for (int i = 0; i < count; ++i) {
            texts.push_back("entry " + std::to_string(i));
        }
        copyAll(texts);
    }
    void type(const QString& text) {
        search()->setFocus();
        QTest::keyClicks(search(), text);
        QApplication::processEvents();
    }
    // Presses `key` where the focus is (the search field unless a test moves
    // it); returns what is lit then.
    Texts press(Qt::Key key, int times = 1, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        for (int i = 0; i < times; ++i) {
            QTest::keyClick(QApplication::focusWidget(), key, modifiers);
            QApplication::processEvents();
        }
        return lit();
    }
    // The pointer really moves: Qt sends enter, leave and motion from it.
    static void movePointerTo(QPoint global) {
        QCursor::setPos(global);
        QApplication::processEvents();
    }
    Texts movePointerOnto(const QWidget* widget, QPoint offset = {}) const {
        movePointerTo(widget->mapToGlobal(widget->rect().center() + offset));
        return lit();
    }

    // The texts of the rows that show the highlight; never more than one.
    [[nodiscard]] Texts lit() const { return rowTexts(true); }
    [[nodiscard]] std::string clipboard() const {
        return board.contents() ? std::string(board.contents()->bytes()) : "(nothing)";
    }
    // Whether `row` lies wholly in the visible part of the list.
    [[nodiscard]] bool inView(const ItemRow* row) const {
        const QRect where(row->mapTo(list()->viewport(), QPoint()), row->size());
        return list()->viewport()->rect().contains(where);
    }
    [[nodiscard]] QLineEdit* search() const { return view->findChild<QLineEdit*>("search"); }
    [[nodiscard]] QLabel* label(const char* name) const { return view->findChild<QLabel*>(name); }
    [[nodiscard]] platform::ui::LazyStack* list() const {
        return view->findChild<platform::ui::LazyStack*>("list");
    }
    // The built rows, top to bottom.
    [[nodiscard]] std::vector<ItemRow*> rows() const {
        auto found = list()->findChildren<ItemRow*>();
        std::vector<ItemRow*> out(found.begin(), found.end());
        std::sort(out.begin(), out.end(),
                  [](const ItemRow* a, const ItemRow* b) { return a->y() < b->y(); });
        return out;
    }
    [[nodiscard]] Texts rowTexts(bool litOnly = false) const {
        Texts out;
        for (const ItemRow* row : rows()) {
            if (!litOnly || row->highlighted()) {
                out.emplace_back(row->item().text.bytes());
            }
        }
        return out;
    }
    [[nodiscard]] ItemRow* rowFor(const std::string& text) const {
        const auto all = rows();
        const auto found = std::find_if(
            all.begin(), all.end(), [&](auto* row) { return row->item().text.bytes() == text; });
        return found == all.end() ? nullptr : *found;
    }

    platform::FakePasteboard board;
    platform::FakeTimerScheduler timers;
    platform::FakeMainExecutor storeQueue;
    platform::FakeMainExecutor viewQueue;
    std::shared_ptr<ClipStore> store = ClipStore::make({
        .generalPasteboard = [this]() -> platform::Pasteboard& { return board; },
        .timers = &timers,
        .mainExecutor = &storeQueue,
    });
    std::unique_ptr<ShelfView> view;
};

TEST_F(ShelfViewTest, ListsTheHistoryNewestFirstCountsAllOfItAndClearAllEmptiesItOnly) {
    QPushButton* clearAll = view->findChild<QPushButton*>("clearAll");
    EXPECT_EQ(label("message")->text(), "Nothing copied yet");
    EXPECT_GT(label("message")->height(), 250);  // it takes the room of the list
    EXPECT_FALSE(list()->isVisible());
    EXPECT_FALSE(clearAll->isEnabled());
    EXPECT_EQ(label("count")->text(), "0/50");

    copyAll({"first", "second", "third"});
    EXPECT_FALSE(label("message")->isVisible());
    EXPECT_EQ(rowTexts(), (Texts{"third", "second", "first"}));
    type("ir");
    EXPECT_EQ(rowTexts(), (Texts{"third", "first"}));
    EXPECT_EQ(label("count")->text(), "3/50");
    type("zz");
    EXPECT_EQ(label("message")->text(), "No matches");
    EXPECT_TRUE(clearAll->isEnabled());

    const std::int64_t counter = board.changeCount();
    QTest::mouseClick(clearAll, Qt::LeftButton);
    settle();
    EXPECT_EQ(label("message")->text(), "Nothing copied yet");  // whatever the query
    EXPECT_FALSE(clearAll->isEnabled());
    EXPECT_EQ(search()->text(), "irzz");
    EXPECT_TRUE(search()->hasFocus());
    EXPECT_EQ(board.changeCount(), counter) << "the clipboard was touched";
}

TEST_F(ShelfViewTest, ACaptureKeepsTheRowsTheirHoverTheQueryAndTheScrollPosition) {
    fill(50);
    type("entry");
    QScrollBar* bar = list()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    bar->setValue(bar->maximum() / 2);
    const int position = bar->value();
    QPointer<ItemRow> hovered = rowFor("entry 49");
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(hovered, &enter);

    copyAll({"entry 50"});
    EXPECT_EQ(label("count")->text(), "50/50");
    EXPECT_EQ(search()->text(), "entry");
    EXPECT_TRUE(search()->hasFocus());
    EXPECT_EQ(bar->value(), position);
    EXPECT_EQ(rowFor("entry 49"), hovered.data());
    EXPECT_TRUE(hovered->hovering());
}

TEST_F(ShelfViewTest, AClickAnywhereInARowsPaddedBoxCopiesItBackOnceAndKeepsTheFocus) {
    copyAll({"first", "second", "third"});
    const ItemRow* row = rowFor("second");
    const QRect box = row->rect();
    for (const QPoint& point : {box.topLeft(), box.bottomRight(),
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
    copyAll({"plain", "\u202Eright-to-left override without end, long enough to wrap twice",
             "\u05E9\u05DC\u05D5\u05DD " + std::string(300, 'a'), std::string(2000, '\n') + "x",
             zalgo, "tabs\t\there\tand\tthere\t" + std::string(200, '\t') + "end",
             std::string("nul\0inside", 10), "\xff\xfe\xfd broken",
             "big " + std::string(std::size_t{20} << 20, 'x')});
    // At most one line more than a row of one line.
    const int most = rowFor("plain")->height() + view->fontMetrics().lineSpacing();
    ASSERT_EQ(rows().size(), 9U);
    for (const ItemRow* row : rows()) {
        EXPECT_LE(row->height(), most);
        EXPECT_EQ(row->width(), list()->viewport()->width());
        EXPECT_EQ(row->layoutDirection(), Qt::LeftToRight);
    }

    // Hidden characters are seen in the row and pasted as they came.
    const std::string hidden = "\x1b[31mred\a \x7f \u202Eabc";
    copyAll({hidden});
    const auto* shown = rowFor(hidden)->findChild<platform::ui::VerbatimText*>();
    EXPECT_EQ(QString(shown->lines(shown->width()).at(0).text)
                  .remove(QChar(0x2066))
                  .remove(QChar(0x2069)),
              QString::fromUtf8("‹ESC›[31mred‹BEL› ‹DEL› ‹RLO›abc"));
    QTest::mouseClick(rowFor(hidden), Qt::LeftButton);
    EXPECT_EQ(clipboard(), hidden);
}

TEST_F(ShelfViewTest, FooterSaysWhenTheHistoryIsPausedAndGermanTranslatesIt) {
    store->setPaused(true);
    settle();
    EXPECT_TRUE(label("paused")->isVisible());
    store->setPaused(false);
    settle();
    EXPECT_FALSE(label("paused")->isVisible());

    QTranslator german;
    ASSERT_TRUE(platform::ui::loadTranslations(german, QLocale(QLocale::German, QLocale::Germany)));
    QCoreApplication::installTranslator(&german);
    openView();
    EXPECT_EQ(search()->placeholderText(), "Suchen");
    EXPECT_EQ(label("message")->text(), "Noch nichts kopiert");
    QCoreApplication::removeTranslator(&german);
}

// The keyboard: the highlight that Up and Down move, what Return does, and
// how the highlight gets on with the pointer's.
TEST_F(ShelfViewTest, ArrowsMoveOneHighlightThatFollowsItsEntryAndReturnCopiesItBack) {
    press(Qt::Key_Down);
    press(Qt::Key_Return);
    copyAll({"one", "two", "three"});
    press(Qt::Key_Return);  // nothing highlighted yet
    EXPECT_EQ(board.writes, 0);

    // From none, either key goes to the first row; both stop at the ends.
    EXPECT_EQ(press(Qt::Key_Up), Texts{"three"});
    EXPECT_EQ(press(Qt::Key_Down, 4), Texts{"one"});
    EXPECT_EQ(press(Qt::Key_Up, 3), Texts{"three"});
    EXPECT_EQ(press(Qt::Key_Down, 1, Qt::KeypadModifier), Texts{"two"});
    EXPECT_TRUE(search()->text().isEmpty());
    press(Qt::Key_Enter, 1, Qt::KeypadModifier);
    EXPECT_EQ(clipboard(), "two");

    // Through captures, and until its entry goes.
    copyAll({"four"});
    EXPECT_EQ(rowTexts(), (Texts{"four", "two", "three", "one"}));
    EXPECT_EQ(lit(), Texts{"two"});
    EXPECT_EQ(press(Qt::Key_Down), Texts{"three"});
    store->setItems({store->items()[0], store->items()[1], store->items()[3]});
    settle();
    EXPECT_EQ(view->highlighted(), std::nullopt);
    EXPECT_EQ(press(Qt::Key_Down), Texts{"four"});

    // Ctrl+Return is not ours, nor is a key held down, nor are the keys
    // anything without matches.
    press(Qt::Key_Return, 1, Qt::ControlModifier);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString("\r"), true);
    QApplication::sendEvent(search(), &repeat);
    type("zzz");
    press(Qt::Key_Down);
    press(Qt::Key_Return);
    EXPECT_EQ(board.writes, 1);
}

TEST_F(ShelfViewTest, TypingStartsFromTheTopCtrlDigitPicksAVisibleRowShiftReturnCloses) {
    copyAll({"apple pie", "banana", "apple juice", "cherry", "apple tart"});
    // Only a pick that closes the panel is pasted where the user was.
    Texts pasted;
    view->onClosingPick([&](const ClipItem& item) { pasted.emplace_back(item.text.bytes()); });
    ASSERT_EQ(press(Qt::Key_Down, 5), Texts{"apple pie"});
    // Even when the highlighted entry is still shown, the next key starts
    // from the top of the new list.
    type("apple");
    EXPECT_TRUE(lit().empty());
    press(Qt::Key_Return);
    EXPECT_EQ(board.writes, 0);

    // The number counts the rows shown under the filter, not the history.
    press(Qt::Key_2, 1, Qt::ControlModifier);
    EXPECT_EQ(clipboard(), "apple juice");
    EXPECT_TRUE(view->isVisible());
    settle();
    // Beyond the rows shown, a digit does nothing; nor does it type.
    press(Qt::Key_4, 1, Qt::ControlModifier);
    EXPECT_EQ(board.writes, 1);
    EXPECT_EQ(search()->text(), "apple");
    EXPECT_TRUE(pasted.empty());

    EXPECT_EQ(press(Qt::Key_Down, 3), Texts{"apple pie"});
    press(Qt::Key_Return, 1, Qt::ShiftModifier);
    EXPECT_EQ(clipboard(), "apple pie");
    EXPECT_FALSE(view->isVisible()) << "Shift+Return leaves the panel open";
    EXPECT_EQ(pasted, Texts{"apple pie"});
}

TEST_F(ShelfViewTest, TabGoesRoundSearchListAndButtonsAndTheListsMarkIsTheHighlight) {
    copyAll({"one", "two"});
    const auto focus = [] { return QApplication::focusWidget()->objectName().toStdString(); };
    EXPECT_EQ(press(Qt::Key_Tab), Texts{"two"});
    EXPECT_EQ(focus(), "list");
    EXPECT_EQ(press(Qt::Key_Down), Texts{"one"});
    press(Qt::Key_Return);
    EXPECT_EQ(clipboard(), "one");
    for (const char* next : {"clearAll", "quit", "search", "list"}) {
        press(Qt::Key_Tab);
        EXPECT_EQ(focus(), next);
    }
    for (const char* previous : {"search", "quit", "clearAll", "list"}) {
        press(Qt::Key_Backtab, 1, Qt::ShiftModifier);
        EXPECT_EQ(focus(), previous);
    }
}

TEST_F(ShelfViewTest, TheHighlightedRowIsScrolledIntoViewAndKeptThere) {
    fill(50);
    QScrollBar* bar = list()->verticalScrollBar();
    for (int i = 49; i >= 0; --i) {
        ASSERT_EQ(press(Qt::Key_Down), Texts{"entry " + std::to_string(i)});
        EXPECT_TRUE(inView(rowFor(lit()[0]))) << i;
    }
    EXPECT_EQ(bar->value(), bar->maximum());
    // Scrolling goes only as far as it must.
    press(Qt::Key_Up);
    EXPECT_EQ(bar->value(), bar->maximum());
    press(Qt::Key_Up, 48);
    EXPECT_EQ(bar->value(), 0);

    // A capture keeps the highlighted entry in view as it moves down.
    press(Qt::Key_Down, 10);
    const std::string target = lit().at(0);
    for (int i = 0; i < 20; ++i) {
        copyAll({"more " + std::to_string(i)});
        EXPECT_TRUE(inView(rowFor(target))) << i;
    }
}

TEST_F(ShelfViewTest, PointerAndKeysShareOneHighlight) {
    copyAll({"one", "two", "three"});
    ItemRow* three = rowFor("three");
    ItemRow* two = rowFor("two");
    EXPECT_EQ(movePointerOnto(two), Texts{"two"});
    EXPECT_GT(two->background().alpha(), 0);
    // A key moves on from where the pointer put it, and the row under the
    // pointer goes dark although the pointer is still there.
    EXPECT_EQ(press(Qt::Key_Down), Texts{"one"});
    EXPECT_EQ(two->background().alpha(), 0);
    // Moving the pointer on the row takes the highlight back; off the rows
    // it goes.
    EXPECT_EQ(movePointerOnto(two, QPoint(3, 0)), Texts{"two"});
    movePointerOnto(search());
    EXPECT_EQ(view->highlighted(), std::nullopt);

    // A row that the keys lit stays lit when a pointer that rested on it
    // leaves, and a new row appearing under a pointer at rest takes nothing.
    movePointerOnto(three);
    press(Qt::Key_Down);
    press(Qt::Key_Up);
    EXPECT_EQ(movePointerOnto(search()), Texts{"three"});
    movePointerOnto(three);
    press(Qt::Key_Down, 2);
    copyAll({"four"});
    ASSERT_EQ(rowTexts(), (Texts{"four", "three", "two", "one"}));
    EXPECT_EQ(lit(), Texts{"one"});
}

}  // namespace
}  // namespace brimlet
