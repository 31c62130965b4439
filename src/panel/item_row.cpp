#include "panel/item_row.h"

#include <QApplication>
#include <utility>

#include "platform/ui/verbatim_text.h"
#include "platform/ui/views.h"

namespace brimlet {

namespace ui = platform::ui;

namespace {
constexpr std::size_t kAccessibleTextBytes = 4096;
}  // namespace

ItemRow::ItemRow(ClipItem item, std::function<void()> action, QWidget* parent)
    : PlainButton(
          new ui::VerbatimText(item.text, kLineLimit),
          QMargins(kHorizontalPadding, kVerticalPadding, kHorizontalPadding, kVerticalPadding),
          parent),
      item_(std::move(item)),
      action_(std::move(action)) {
    // The list is the keyboard's stop; rows take no focus of their own.
    setFocusPolicy(Qt::NoFocus);
    // Screen readers get the entry's text, cut to a size they can take.
    setAccessibleName(ui::readableText(item_.text.bytes(), kAccessibleTextBytes));
    setBackground(Qt::transparent, kCornerRadius);
    onHoverChanged([this](bool inside) {
        hovering_ = inside;
        if (!inside) {
            pointer(false);
        }
    });
    // Lit by motion, not by enter: a row that scrolls or appears under a
    // pointer at rest must not take the highlight from the keyboard.
    onPointerMoved([this] { pointer(true); });
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (action_) {
            action_();
        }
    });
}

void ItemRow::setHighlighted(bool highlighted) {
    highlighted_ = highlighted;
    setBackground(highlighted ? ui::withOpacity(QApplication::palette().color(QPalette::Highlight),
                                                kHoverOpacity)
                              : QColor(Qt::transparent),
                  kCornerRadius);
}

void ItemRow::onPointer(std::function<void(bool over)> handler) {
    pointerHandler_ = std::move(handler);
}

void ItemRow::pointer(bool over) {
    if (pointerHandler_) {
        pointerHandler_(over);
    } else if (highlighted_ != over) {
        setHighlighted(over);
    }
}

}  // namespace brimlet
