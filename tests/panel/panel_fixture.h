// A shelf view on an in-memory store, shown offscreen. Copies by other
// programs are simulated on a fake clipboard; the store's checks and the
// view's rebuilds run only when a test says so.
#pragma once

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "history/clip_store.h"
#include "panel/item_row.h"
#include "panel/shelf_view.h"
#include "platform/fake/fake_pasteboard.h"
#include "platform/fake/fake_scheduling.h"
#include "platform/ui/lazy_stack.h"

namespace brimlet::testing {

class PanelFixture {
  public:
    PanelFixture() {
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
    void copyAndSettle(const std::string& text) {
        copy(text);
        settle();
    }
    void type(const QString& text) {
        search()->setFocus();
        QTest::keyClicks(search(), text);
        QApplication::processEvents();
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

}  // namespace brimlet::testing
