// Small building blocks over Qt Widgets: stacks, padding, dividers, the text
// field, push buttons, labels, translucent colours and the caption font.
#pragma once

#include <QColor>
#include <QFont>
#include <QKeySequence>
#include <QMargins>
#include <QString>
#include <functional>

class QBoxLayout;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace brimlet::platform::ui {

// A vertical stack on `owner` with `padding` around it, and a horizontal one
// without padding and with the style's spacing.
QBoxLayout* vStack(QWidget* owner, int spacing, QMargins padding = {});
QBoxLayout* hStack();
// A horizontal separator line across the stack.
QFrame* divider();

// A one-line field in the rounded-border style; `onEdit` runs on every edit.
QLineEdit* textField(const QString& placeholder, std::function<void(const QString&)> onEdit);
// A standard push button; `shortcut` works anywhere in the button's window.
QPushButton* pushButton(const QString& title, std::function<void()> action,
                        const QKeySequence& shortcut = {});
// A text in `colour` (for example the secondary role).
QLabel* label(const QString& text, const QColor& colour);

[[nodiscard]] QColor withOpacity(QColor colour, qreal opacity);
// The small font of captions and counts.
[[nodiscard]] QFont captionFont();

// Tells assistive technology that `widget` is now the one to read out, as
// if it had the keyboard focus, which stays where it is.
void announceAsFocused(QWidget* widget);

}  // namespace brimlet::platform::ui
