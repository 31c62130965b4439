// One history entry in the panel: its text in at most two lines, a faint
// accent highlight while the pointer is over it, and a click anywhere on it
// runs the row's action.
#pragma once

#include <functional>

#include "history/clip_item.h"
#include "platform/ui/plain_button.h"

namespace brimlet {

class ItemRow final : public platform::ui::PlainButton {
  public:
    static constexpr int kLineLimit = 2;
    static constexpr int kVerticalPadding = 5;
    static constexpr int kHorizontalPadding = 8;
    static constexpr qreal kCornerRadius = 6;
    static constexpr qreal kHoverOpacity = 0.2;

    ItemRow(ClipItem item, std::function<void()> action, QWidget* parent = nullptr);

    [[nodiscard]] const ClipItem& item() const { return item_; }
    [[nodiscard]] bool hovering() const { return hovering_; }

  private:
    void setHovering(bool hovering);

    ClipItem item_;
    std::function<void()> action_;
    bool hovering_ = false;
};

}  // namespace brimlet
