// The panel's content: a search field, the filtered history as rows (or a
// message when there are none), and a footer with "Clear all", the count of
// entries against the capacity, and "Quit".
#pragma once

#include <QString>
#include <QWidget>
#include <vector>

#include "history/clip_store.h"
#include "platform/observable.h"
#include "platform/scheduling.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace brimlet {

namespace platform::ui {
class LazyStack;
}

class ShelfView final : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kWidth = 340;
    static constexpr int kHeight = 420;
    static constexpr int kPadding = 12;
    static constexpr int kSpacing = 8;
    static constexpr int kRowSpacing = 2;

    // Observes `store`; rebuilds are queued on `executor`, at most one at a
    // time, so that a burst of changes leads to one rebuild.
    ShelfView(ClipStore& store, platform::MainExecutor& executor, QWidget* parent = nullptr);

  private:
    [[nodiscard]] std::vector<ClipItem> filtered() const;
    void storeWillChange();
    void rebuild();

    ClipStore& store_;
    platform::MainExecutor& executor_;
    platform::WillChangePublisher::Subscription subscription_;
    bool rebuildQueued_ = false;

    QString query_;
    QLineEdit* search_;
    QLabel* message_;
    platform::ui::LazyStack* list_;
    QPushButton* clearAll_;
    QLabel* count_;
};

}  // namespace brimlet
