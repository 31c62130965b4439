#include "panel/item_row.h"

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
    // Screen readers get the entry's text, cut to a size they can take.
    setAccessibleName(ui::readableText(item_.text.bytes(), kAccessibleTextBytes));
    setBackground(ui::clearColor(), kCornerRadius);
    onHoverChanged([this](bool inside) { setHovering(inside); });
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (action_) {
            action_();
        }
    });
}

void ItemRow::setHovering(bool hovering) {
    hovering_ = hovering;
    setBackground(hovering ? ui::withOpacity(ui::accentColor(), kHoverOpacity) : ui::clearColor(),
                  kCornerRadius);
}

}  // namespace brimlet
