#include "panel/shelf_view.h"

#include <QApplication>
#include <QBoxLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <algorithm>

#include "panel/item_row.h"
#include "panel/search_filter.h"
#include "platform/ui/application.h"
#include "platform/ui/lazy_stack.h"
#include "platform/ui/views.h"

namespace brimlet {

namespace ui = platform::ui;

namespace {

QByteArray keyOf(const Uuid& id) {
    const auto& bytes = id.bytes();
    return {reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())};
}

}  // namespace

ShelfView::ShelfView(ClipStore& store, platform::MainExecutor& executor, QWidget* parent)
    : QWidget(parent), store_(store), executor_(executor) {
    // Its window may give it less where the screen is small; the list
    // scrolls then.
    resize(kWidth, kHeight);

    QBoxLayout* stack =
        ui::vStack(this, kSpacing, QMargins(kPadding, kPadding, kPadding, kPadding));
    stack->setSizeConstraint(QLayout::SetNoConstraint);

    search_ = ui::textField(tr("Search"), [this](const QString& text) {
        query_ = text;
        // A new search starts again from its best match.
        if (highlighted_ && highlightSource_ == Source::Keyboard) {
            ui::announceAsFocused(search_);
        }
        highlighted_.reset();
        rebuild();
    });
    search_->setObjectName(QStringLiteral("search"));
    search_->setAccessibleName(tr("Search"));
    search_->installEventFilter(this);
    stack->addWidget(search_);

    const QColor secondary = QApplication::palette().color(QPalette::PlaceholderText);
    message_ = ui::label(QString(), secondary);
    message_->setObjectName(QStringLiteral("message"));
    message_->setAlignment(Qt::AlignCenter);
    message_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    stack->addWidget(message_, 1);

    list_ = new ui::LazyStack(kRowSpacing);
    list_->setObjectName(QStringLiteral("list"));
    // A stop of its own between the search and the footer, whose focus mark
    // is the highlighted row; a click leaves the focus where it is.
    list_->setFocusPolicy(Qt::TabFocus);
    list_->installEventFilter(this);
    list_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    stack->addWidget(list_, 1);

    stack->addWidget(ui::divider());

    QBoxLayout* footer = ui::hStack();
    clearAll_ = ui::pushButton(tr("Clear all"), [this] { store_.setItems({}); });
    clearAll_->setObjectName(QStringLiteral("clearAll"));
    footer->addWidget(clearAll_, 0, Qt::AlignVCenter);
    footer->addStretch(1);
    paused_ = ui::label(tr("Paused"), secondary);
    paused_->setObjectName(QStringLiteral("paused"));
    paused_->setFont(ui::captionFont());
    footer->addWidget(paused_, 0, Qt::AlignVCenter);
    count_ = ui::label(QString(), secondary);
    count_->setObjectName(QStringLiteral("count"));
    count_->setFont(ui::captionFont());
    footer->addWidget(count_, 0, Qt::AlignVCenter);
    footer->addStretch(1);
    QPushButton* quit = ui::pushButton(
        tr("Quit"), [] { ui::Application::quit(); }, QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setObjectName(QStringLiteral("quit"));
    footer->addWidget(quit, 0, Qt::AlignVCenter);
    stack->addLayout(footer);

    setFocusProxy(search_);
    subscription_ = store_.objectWillChange().subscribe([this] { storeWillChange(); });
    pausedSubscription_ = store_.pausedWillChange().subscribe([this] { storeWillChange(); });
    rebuild();
}

std::vector<ClipItem> ShelfView::filtered() const {
    const QByteArray query = query_.toUtf8();
    return filterItems(store_.items(), std::string_view(query.constData(), query.size()));
}

void ShelfView::storeWillChange() {
    // Told before each step of a change; the state to show exists only once
    // the whole burst is done.
    if (rebuildQueued_) {
        return;
    }
    rebuildQueued_ = true;
    executor_.post([view = QPointer<ShelfView>(this)] {
        if (view != nullptr) {
            view->rebuildQueued_ = false;
            view->rebuild();
        }
    });
}

bool ShelfView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::FocusIn) {
        if (highlighted_) {
            ui::announceAsFocused(litRow_);
        } else {
            moveHighlight(1);
        }
    }
    // The list takes the same keys as the search field.
    if ((watched == search_ || watched == list_) && event->type() == QEvent::KeyPress) {
        // A key ends the preview, as with any tooltip; a highlight that moves
        // waits for a new one.
        preview_.restOn(nullptr, {});
        const auto* key = static_cast<QKeyEvent*>(event);
        // Keys on the keypad count as the same keys.
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        // Ctrl+1 to Ctrl+9 pick the row of that number, as a click would.
        if (modifiers == Qt::ControlModifier && key->key() >= Qt::Key_1 &&
            key->key() <= Qt::Key_9) {
            if (!key->isAutoRepeat()) {
                copyBack(static_cast<std::size_t>(key->key() - Qt::Key_1), false);
            }
            return true;
        }
        if (modifiers == Qt::ShiftModifier &&
            (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            if (!key->isAutoRepeat()) {
                activate(true);
            }
            return true;
        }
        if (modifiers == Qt::NoModifier) {
            switch (key->key()) {
                case Qt::Key_Down:
                    moveHighlight(1);
                    return true;
                case Qt::Key_Up:
                    moveHighlight(-1);
                    return true;
                case Qt::Key_Return:
                case Qt::Key_Enter:
                    // Held down, it would copy the same entry over and over.
                    if (!key->isAutoRepeat()) {
                        activate(false);
                    }
                    return true;
                default:
                    break;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

std::optional<std::size_t> ShelfView::highlightedIndex() const {
    if (!highlighted_) {
        return std::nullopt;
    }
    const auto found = std::find_if(shown_.begin(), shown_.end(),
                                    [&](const ClipItem& item) { return item.id == *highlighted_; });
    if (found == shown_.end()) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(found - shown_.begin());
}

void ShelfView::moveHighlight(int step) {
    if (shown_.empty()) {
        return;
    }
    std::size_t next = 0;
    if (const auto current = highlightedIndex()) {
        next = step < 0 ? (*current > 0 ? *current - 1 : 0)
                        : std::min(*current + 1, shown_.size() - 1);
    }
    // Builds the row first if it is further down than the rows built so far.
    list_->scrollToRow(next);
    setHighlight(shown_[next].id, Source::Keyboard);
    ui::announceAsFocused(litRow_);
}

void ShelfView::activate(bool thenClose) {
    // Return in the search field itself runs nothing; it acts only on a row
    // that the keys or the pointer picked out.
    if (const auto index = highlightedIndex()) {
        copyBack(*index, thenClose);
    }
}

void ShelfView::copyBack(std::size_t index, bool thenClose) {
    if (index >= shown_.size()) {
        return;
    }
    // What a click on that row does; the rebuild it leads to comes later.
    const ClipItem item = shown_[index];
    putBack(item, thenClose);
}

void ShelfView::putBack(const ClipItem& item, bool thenClose) {
    store_.copyBack(item);
    if (thenClose) {
        // So that the user can paste at once where they were, or have it
        // pasted there.
        window()->close();
        if (closingPick_) {
            closingPick_(item);
        }
    }
}

void ShelfView::pointerOver(const Uuid& id, bool over) {
    if (over) {
        if (highlighted_ != id || highlightSource_ != Source::Pointer) {
            setHighlight(id, Source::Pointer);
        } else if (litRow_ != nullptr) {
            // The preview waits for the pointer to rest.
            preview_.restOn(litRow_, litRow_->item().text);
        }
    } else if (highlighted_ == id && highlightSource_ == Source::Pointer) {
        // Only the pointer's own highlight goes with it; a row that the keys
        // lit stays lit when a pointer at rest on it moves off.
        setHighlight(std::nullopt, Source::Pointer);
    }
}

void ShelfView::setHighlight(std::optional<Uuid> id, Source source) {
    highlighted_ = id;
    highlightSource_ = source;
    paintHighlight();
}

void ShelfView::paintHighlight() {
    ItemRow* row =
        highlighted_ ? static_cast<ItemRow*>(list_->builtRow(keyOf(*highlighted_))) : nullptr;
    if (litRow_ != row && litRow_ != nullptr) {
        litRow_->setHighlighted(false);
    }
    // A newly lit row waits anew; no row, even when the lit one was just
    // deleted, has no preview.
    if (litRow_ != row || row == nullptr) {
        preview_.restOn(row, row != nullptr ? row->item().text : platform::Text());
    }
    litRow_ = row;
    if (row != nullptr) {
        row->setHighlighted(true);
    }
}

void ShelfView::hideEvent(QHideEvent* event) {
    preview_.restOn(nullptr, {});
    QWidget::hideEvent(event);
}

void ShelfView::rebuild() {
    const std::vector<ClipItem>& items = store_.items();
    shown_ = filtered();
    const std::vector<ClipItem>& shown = shown_;
    // The highlight follows its entry for as long as the entry is shown.
    const std::optional<std::size_t> highlight = highlightedIndex();
    if (!highlight) {
        highlighted_.reset();
    }

    if (shown.empty()) {
        message_->setText(items.empty() ? tr("Nothing copied yet") : tr("No matches"));
        list_->setRows({});
        list_->hide();
        message_->show();
    } else {
        std::vector<ui::LazyStack::Row> rows;
        rows.reserve(shown.size());
        for (const ClipItem& item : shown) {
            rows.push_back(
                {keyOf(item.id), [this, item] {
                     auto* row = new ItemRow(item, [this, item] {
                         // Shift+click also closes the panel.
                         putBack(item,
                                 QGuiApplication::keyboardModifiers().testFlag(Qt::ShiftModifier));
                     });
                     row->onPointer([this, id = item.id](bool over) { pointerOver(id, over); });
                     return row;
                 }});
        }
        message_->hide();
        list_->show();
        list_->setRows(std::move(rows));
    }
    // The highlighted row is built: the keys build the rows they go to, and
    // a rebuild keeps every row that was built before.
    paintHighlight();
    if (highlight && highlightSource_ == Source::Keyboard) {
        list_->scrollToRow(*highlight);
    }

    clearAll_->setEnabled(!items.empty());
    paused_->setVisible(store_.paused());
    count_->setText(tr("%1/%2").arg(items.size()).arg(kHistoryCapacity));
}

}  // namespace brimlet
