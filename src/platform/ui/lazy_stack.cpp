#include "platform/ui/lazy_stack.h"

#include <QEvent>
#include <QHash>
#include <QScrollBar>
#include <algorithm>

namespace brimlet::platform::ui {

LazyStack::LazyStack(int spacing, QWidget* parent)
    : QScrollArea(parent), spacing_(spacing), content_(new QWidget) {
    setFrameShape(QFrame::NoFrame);
    // Clicks on rows must leave keyboard focus where it was.
    setFocusPolicy(Qt::NoFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The content is sized here, to the view's width and the rows' height.
    setWidgetResizable(false);
    setWidget(content_);
    content_->setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this](int value) { fill(value); });
}

QWidget* LazyStack::builtRow(const QByteArray& key) const {
    for (std::size_t i = 0; i < built_; ++i) {
        if (slots_[i].key == key) {
            return slots_[i].widget;
        }
    }
    return nullptr;
}

QWidget* LazyStack::row(std::size_t index) {
    if (index >= slots_.size()) {
        return nullptr;
    }
    if (index >= built_) {
        while (built_ <= index) {
            build(slots_[built_]);
            ++built_;
        }
        relayout();
    }
    return slots_[index].widget;
}

void LazyStack::scrollToRow(std::size_t index) {
    if (QWidget* widget = row(index)) {
        ensureWidgetVisible(widget, 0, 0);
    }
}

void LazyStack::setRows(std::vector<Row> rows) {
    const int position = verticalScrollBar()->value();

    QHash<QByteArray, QWidget*> kept;
    for (std::size_t i = 0; i < built_; ++i) {
        kept.insert(slots_[i].key, slots_[i].widget);
    }

    std::vector<Slot> next;
    next.reserve(rows.size());
    std::size_t lastKept = 0;
    for (auto& row : rows) {
        Slot slot{std::move(row.key), std::move(row.make), nullptr};
        if (const auto found = kept.find(slot.key); found != kept.end()) {
            slot.widget = found.value();
            kept.erase(found);
            lastKept = next.size() + 1;
        }
        next.push_back(std::move(slot));
    }
    // Rows that left go now; rebuilds never run inside a row's own handler.
    for (QWidget* widget : std::as_const(kept)) {
        delete widget;
    }

    slots_ = std::move(next);
    // Built rows stay a prefix of the stack: build the new ones among them.
    built_ = lastKept;
    for (std::size_t i = 0; i < built_; ++i) {
        build(slots_[i]);
    }
    relayout();
    fill(position);
    verticalScrollBar()->setValue(position);
}

void LazyStack::build(Slot& slot) {
    if (slot.widget == nullptr) {
        slot.widget = slot.make();
        slot.widget->setParent(content_);
        // Shown by `relayout`, once in place: shown anywhere else it could
        // pass for being under the pointer.
    }
}

void LazyStack::fill(int top) {
    const int wanted = top + 2 * viewport()->height();
    int height = content_->height();
    bool grew = false;
    while (built_ < slots_.size() && height < wanted) {
        build(slots_[built_]);
        ++built_;
        const QWidget* row = slots_[built_ - 1].widget;
        height += (built_ > 1 ? spacing_ : 0) + row->heightForWidth(viewport()->width());
        grew = true;
    }
    if (grew) {
        relayout();
    }
}

void LazyStack::relayout() {
    laying_ = true;
    // Sizing the content may show or hide the scroll bar, which changes the
    // width again; the heights settle after a second pass at most.
    for (int pass = 0; pass < 3; ++pass) {
        const int width = viewport()->width();
        int y = 0;
        for (std::size_t i = 0; i < built_; ++i) {
            QWidget* row = slots_[i].widget;
            const int height =
                row->hasHeightForWidth() ? row->heightForWidth(width) : row->sizeHint().height();
            if (i > 0) {
                y += spacing_;
            }
            row->setGeometry(0, y, width, height);
            if (row->isHidden()) {
                row->show();
            }
            y += height;
        }
        content_->resize(width, y);
        if (viewport()->width() == width) {
            break;
        }
    }
    laying_ = false;
}

bool LazyStack::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::Resize && !laying_) {
        relayout();
        fill(verticalScrollBar()->value());
    }
    return QScrollArea::viewportEvent(event);
}

}  // namespace brimlet::platform::ui
