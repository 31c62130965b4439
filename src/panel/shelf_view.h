// The panel's content: a search field, the filtered history as rows (or a
// message when there are none), and a footer with "Clear all", the count of
// entries against the capacity, and "Quit".
//
// Keyboard: the search field has the focus; Tab and Shift+Tab go round the
// search, the list, "Clear all" and "Quit". Up and Down move a highlight
// through the rows (from none, either goes to the first row; they stop at
// the first and the last), Return or Enter copies back the highlighted entry
// (with none highlighted it does nothing), Shift+Return (or Shift+click) does
// the same and closes the panel, Ctrl+1 to Ctrl+9 copy back the row of that
// number, and Esc is left to the window. In the list these keys work alike,
// and the highlight is its focus mark (Tab there lights the first row when
// none is lit). The highlight is the hover background, and there is only
// one: moving the pointer over a row takes it there and moving off again
// clears it; a key moves it on from wherever it is, and a row that the keys
// lit stays lit under a pointer that does not move. It follows its entry
// through changes of the history, and goes when the search text changes.
// Where it rests for a moment, a tooltip previews the entry's text; a key
// or another row ends it.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

#include "history/clip_store.h"
#include "platform/core/observable.h"
#include "platform/core/scheduling.h"
#include "platform/ui/verbatim_text.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace brimlet {

namespace platform::ui {
class LazyStack;
}

class ItemRow;

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

    // The entry that the highlight is on, if any.
    [[nodiscard]] std::optional<Uuid> highlighted() const { return highlighted_; }
    // Told after a pick that closed the panel (Shift+Return, Shift+click)
    // has put its entry back.
    void onClosingPick(std::function<void(const ClipItem&)> then) {
        closingPick_ = std::move(then);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    enum class Source { Pointer, Keyboard };

    [[nodiscard]] std::vector<ClipItem> filtered() const;
    void storeWillChange();
    void rebuild();

    [[nodiscard]] std::optional<std::size_t> highlightedIndex() const;
    void moveHighlight(int step);
    void activate(bool thenClose);
    void copyBack(std::size_t index, bool thenClose);
    void putBack(const ClipItem& item, bool thenClose);
    void pointerOver(const Uuid& id, bool over);
    void setHighlight(std::optional<Uuid> id, Source source);
    // Lights the highlighted row, if it is built, and no other.
    void paintHighlight();

    ClipStore& store_;
    platform::MainExecutor& executor_;
    platform::WillChangePublisher::Subscription subscription_;
    platform::WillChangePublisher::Subscription pausedSubscription_;
    bool rebuildQueued_ = false;

    QString query_;
    std::vector<ClipItem> shown_;
    std::optional<Uuid> highlighted_;
    Source highlightSource_ = Source::Keyboard;
    QPointer<ItemRow> litRow_;
    // The lit row's text, once it has rested there a moment.
    platform::ui::TextPreview preview_;
    std::function<void(const ClipItem&)> closingPick_;

    QLineEdit* search_;
    QLabel* message_;
    platform::ui::LazyStack* list_;
    QPushButton* clearAll_;
    QLabel* paused_;
    QLabel* count_;
};

}  // namespace brimlet
