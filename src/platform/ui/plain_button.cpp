#include "platform/ui/plain_button.h"

#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>

namespace brimlet::platform::ui {

PlainButton::PlainButton(QWidget* label, QMargins padding, QWidget* parent)
    : QAbstractButton(parent), label_(label), padding_(padding) {
    label_->setParent(this);
    label_->setAttribute(Qt::WA_TransparentForMouseEvents);
    // A click must leave keyboard focus where it was (the search field).
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    QSizePolicy policy = sizePolicy();
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void PlainButton::setBackground(const QColor& colour, qreal radius) {
    if (colour == background_ && radius == radius_) {
        return;
    }
    background_ = colour;
    radius_ = radius;
    update();
}

void PlainButton::onPointerMoved(std::function<void()> handler) {
    pointerMoved_ = std::move(handler);
    setMouseTracking(pointerMoved_ != nullptr);
}

int PlainButton::heightForWidth(int width) const {
    const int inner = width - padding_.left() - padding_.right();
    return label_->heightForWidth(inner) + padding_.top() + padding_.bottom();
}

QSize PlainButton::sizeHint() const {
    const QSize inner = label_->sizeHint();
    return {inner.width() + padding_.left() + padding_.right(), heightForWidth(width())};
}

QSize PlainButton::minimumSizeHint() const {
    const QSize inner = label_->minimumSizeHint();
    return inner.grownBy(padding_);
}

void PlainButton::paintEvent(QPaintEvent* /*event*/) {
    if (background_.alpha() == 0) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), radius_, radius_);
    painter.fillPath(shape, background_);
}

void PlainButton::resizeEvent(QResizeEvent* event) {
    label_->setGeometry(rect().marginsRemoved(padding_));
    QAbstractButton::resizeEvent(event);
}

void PlainButton::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    if (hoverChanged_) {
        hoverChanged_(true);
    }
}

void PlainButton::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    if (hoverChanged_) {
        hoverChanged_(false);
    }
}

void PlainButton::mouseMoveEvent(QMouseEvent* event) {
    QAbstractButton::mouseMoveEvent(event);
    if (pointerMoved_) {
        pointerMoved_();
    }
}

}  // namespace brimlet::platform::ui
