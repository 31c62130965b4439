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
    // True while the pointer is over the row.
    [[nodiscard]] bool hovering() const { return hovering_; }

    // Whether the row shows the accent background, the one mark that the
    // pointer and the keyboard share.
    [[nodiscard]] bool highlighted() const { return highlighted_; }
    void setHighlighted(bool highlighted);

    // Told true when the pointer moves over the row and false when it leaves.
    // Without a handler the row lights itself up while the pointer is over
    // it; with one, the handler decides (the panel keeps one row lit).
    void onPointer(std::function<void(bool over)> handler);

  private:
    void pointer(bool over);

    ClipItem item_;
    std::function<void()> action_;
    std::function<void(bool)> pointerHandler_;
    bool hovering_ = false;
    bool highlighted_ = false;
};

}  // namespace brimlet
