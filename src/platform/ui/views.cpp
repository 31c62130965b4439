#include "platform/ui/views.h"

#include <QAccessible>
#include <QApplication>
#include <QBoxLayout>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <algorithm>

namespace brimlet::platform::ui {

QBoxLayout* vStack(QWidget* owner, int spacing, QMargins padding) {
    auto* stack = new QVBoxLayout(owner);
    stack->setSpacing(spacing);
    stack->setContentsMargins(padding);
    return stack;
}

QBoxLayout* hStack() {
    auto* stack = new QHBoxLayout;
    stack->setContentsMargins({});
    return stack;
}

QFrame* divider() {
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QLineEdit* textField(const QString& placeholder, std::function<void(const QString&)> onEdit) {
    auto* field = new QLineEdit;
    field->setPlaceholderText(placeholder);
    field->setFrame(true);
    field->setClearButtonEnabled(false);
    QObject::connect(field, &QLineEdit::textChanged, field, std::move(onEdit));
    return field;
}

QPushButton* pushButton(const QString& title, std::function<void()> action,
                        const QKeySequence& shortcut) {
    auto* button = new QPushButton(title);
    // A click leaves keyboard focus where it was (the search field).
    button->setFocusPolicy(Qt::TabFocus);
    // Return in a text field must not press a button.
    button->setAutoDefault(false);
    button->setDefault(false);
    if (!shortcut.isEmpty()) {
        button->setShortcut(shortcut);
    }
    QObject::connect(button, &QPushButton::clicked, button,
                     [action = std::move(action)] { action(); });
    return button;
}

QLabel* label(const QString& text, const QColor& colour) {
    auto* text_label = new QLabel(text);
    text_label->setTextFormat(Qt::PlainText);
    QPalette palette = text_label->palette();
    palette.setColor(QPalette::WindowText, colour);
    text_label->setPalette(palette);
    return text_label;
}

QColor withOpacity(QColor colour, qreal opacity) {
    colour.setAlphaF(static_cast<float>(colour.alphaF() * opacity));
    return colour;
}

QFont captionFont() {
    // Captions are about three quarters of the body size, as on most desktops.
    QFont font = QApplication::font();
    const qreal size = font.pointSizeF() > 0 ? font.pointSizeF() : 9.0;
    font.setPointSizeF(std::max(7.0, size * 10.0 / 13.0));
    return font;
}

void announceAsFocused(QWidget* widget) {
    if (widget != nullptr) {
        QAccessibleEvent event(widget, QAccessible::Focus);
        QAccessible::updateAccessibility(&event);
    }
}

}  // namespace brimlet::platform::ui
