// A vertical scroll view over a stack of keyed rows. A row is built only when
// it is about to come into view, and a built row is kept, widget and state,
// for as long as its key stays in the stack.
#pragma once

#include <QByteArray>
#include <QScrollArea>
#include <functional>
#include <vector>

namespace brimlet::platform::ui {

class LazyStack final : public QScrollArea {
  public:
    struct Row {
        QByteArray key;
        std::function<QWidget*()> make;
    };

    explicit LazyStack(int spacing, QWidget* parent = nullptr);

    // Replaces the rows, in order. Rows whose key was shown before keep their
    // widget; the others are built as they come into view. The scroll
    // position stays where it was, as far as the new content allows.
    void setRows(std::vector<Row> rows);

    [[nodiscard]] std::size_t rowCount() const { return slots_.size(); }
    // The widget of the row with `key`, or null while it is not built.
    [[nodiscard]] QWidget* builtRow(const QByteArray& key) const;
    [[nodiscard]] std::size_t builtCount() const { return built_; }
    // The widget of the row at `index`, built now (with every row above it)
    // if it was not yet; null past the end.
    QWidget* row(std::size_t index);
    // Scrolls the least distance that shows the row at `index` whole.
    void scrollToRow(std::size_t index);

  protected:
    bool viewportEvent(QEvent* event) override;

  private:
    struct Slot {
        QByteArray key;
        std::function<QWidget*()> make;
        QWidget* widget = nullptr;
    };

    void build(Slot& slot);
    // Builds rows until they reach a screen below a view that starts at `top`.
    void fill(int top);
    // Places the built rows and sizes the content to them.
    void relayout();

    int spacing_;
    QWidget* content_;
    std::vector<Slot> slots_;
    std::size_t built_ = 0;  // the first `built_` slots have widgets
    bool laying_ = false;
};

}  // namespace brimlet::platform::ui
