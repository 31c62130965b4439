#include "platform/ui/menu_bar_extra.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

namespace brimlet::platform::ui {
namespace {

// A press on the tray icon first closes the open panel (a click outside it)
// and then reports the activation; that activation must not reopen it.
constexpr qint64 kReopenGuardMs = 300;

QRect availableGeometryAround(QPoint point) {
    const QScreen* screen = QGuiApplication::screenAt(point);
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    return screen != nullptr ? screen->availableGeometry() : QRect();
}

}  // namespace

PanelWindow::PanelWindow(QSize size)
    : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint) {
    setObjectName(QStringLiteral("BrimletPanel"));
    setWindowTitle(QStringLiteral("Brimlet"));
    setFixedSize(size);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins({});
    stack->setSpacing(0);
}

void PanelWindow::open(QWidget* content, QPoint topLeft) {
    delete content_;
    content_ = content;
    layout()->addWidget(content);
    move(topLeft);
    show();
    raise();
    activateWindow();
    content->setFocus(Qt::PopupFocusReason);
}

qint64 PanelWindow::msSinceClosed() const {
    return closed_.isValid() ? closed_.elapsed() : std::numeric_limits<qint64>::max();
}

void PanelWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PanelWindow::paintEvent(QPaintEvent* /*event*/) {
    // A hairline edge keeps the frameless panel apart from what lies below.
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void PanelWindow::hideEvent(QHideEvent* event) {
    closed_.start();
    // The next opening makes new content; this one may still be delivering
    // the event that closed the window.
    if (content_ != nullptr) {
        content_->hide();
        content_->deleteLater();
        content_ = nullptr;
    }
    QWidget::hideEvent(event);
}

MenuBarExtra::MenuBarExtra(const QString& title, const QIcon& icon, QSize panelSize,
                           std::function<QWidget*()> content)
    : tray_(new QSystemTrayIcon(icon, this)), panel_(panelSize), content_(std::move(content)) {
    tray_->setToolTip(title);
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    togglePanel();
                }
            });
    // Without a tray host the icon stays hidden until one appears; the panel
    // can still be opened (openPanel) and the history is kept meanwhile.
    tray_->show();
}

MenuBarExtra::~MenuBarExtra() = default;

void MenuBarExtra::togglePanel() {
    if (panel_.isVisible()) {
        panel_.close();
        return;
    }
    if (panel_.msSinceClosed() < kReopenGuardMs) {
        return;
    }
    showPanel();
}

void MenuBarExtra::openPanel() {
    if (panel_.isVisible()) {
        panel_.raise();
        panel_.activateWindow();
        return;
    }
    showPanel();
}

bool MenuBarExtra::trayHostAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool MenuBarExtra::docksWhenTrayHostStarts() {
    // Qt's X11 icon watches for a tray manager and docks when one appears.
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

void MenuBarExtra::showPanel() {
    const QRect icon = tray_->geometry();
    const QRect available =
        availableGeometryAround(icon.isValid() ? icon.center() : QCursor::pos());
    const QRect where = panelGeometry(panel_.size(), icon, available);
    panel_.open(content_(), where.topLeft());
}

QRect panelGeometry(QSize size, QRect icon, QRect available) {
    QRect panel(QPoint(), size);
    if (!icon.isValid() || icon.isEmpty()) {
        panel.moveTopRight(available.topRight());
        return panel;
    }
    panel.moveLeft(icon.center().x() - size.width() / 2);
    if (icon.center().y() < available.center().y()) {
        panel.moveTop(icon.bottom() + 1);
    } else {
        panel.moveBottom(icon.top() - 1);
    }
    // Inside the screen's free area, its top-left corner winning when the
    // panel is larger than the area.
    panel.moveLeft(
        std::max(available.left(), std::min(panel.left(), available.right() - size.width() + 1)));
    panel.moveTop(
        std::max(available.top(), std::min(panel.top(), available.bottom() - size.height() + 1)));
    return panel;
}

}  // namespace brimlet::platform::ui
