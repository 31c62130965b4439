// A button that draws no chrome of its own: a label inside padding, an
// optional background clipped to rounded corners, and the whole padded
// rectangle as its click and hover area.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QMargins>
#include <functional>

namespace brimlet::platform::ui {

class PlainButton : public QAbstractButton {
  public:
    // Takes ownership of `label`, which receives no mouse events of its own.
    PlainButton(QWidget* label, QMargins padding, QWidget* parent = nullptr);

    // Fills the padded box, clipped to a rounded rectangle of `radius`.
    void setBackground(const QColor& colour, qreal radius);
    [[nodiscard]] QColor background() const { return background_; }

    // Told true when the pointer enters the button and false when it leaves.
    void onHoverChanged(std::function<void(bool)> handler) { hoverChanged_ = std::move(handler); }
    // Told each time the pointer moves over the button. Unlike an enter, which
    // Qt also sends when a button appears under a pointer at rest, this comes
    // only from the user moving the pointer.
    void onPointerMoved(std::function<void()> handler);

    [[nodiscard]] bool hasHeightForWidth() const override { return true; }
    [[nodiscard]] int heightForWidth(int width) const override;
    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    QWidget* label_;
    QMargins padding_;
    QColor background_ = Qt::transparent;
    qreal radius_ = 0;
    std::function<void(bool)> hoverChanged_;
    std::function<void()> pointerMoved_;
};

}  // namespace brimlet::platform::ui
