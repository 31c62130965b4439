#include "platform/ui/menu_bar_extra.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

#include "platform/ui/work_area.h"

namespace brimlet::platform::ui {
namespace {

// A press on the tray icon first closes the open panel (a click outside it)
// and then reports the activation; that activation must not reopen it.
constexpr qint64 kReopenGuardMs = 300;
// A click farther from the screen's edge than half this was not on a bar.
constexpr int kLargestBar = 128;

bool onX11() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

}  // namespace

PanelWindow::PanelWindow(QSize size)
    : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint) {
    setObjectName(QStringLiteral("BrimletPanel"));
    setWindowTitle(QStringLiteral("Brimlet"));
    setFixedSize(size);
    preferred_ = size;
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins({});
    stack->setSpacing(0);
}

void PanelWindow::open(QWidget* content, QRect where) {
    delete content_;
    content_ = content;
    layout()->addWidget(content);
    setFixedSize(where.size());
    move(where.topLeft());
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
    : title_(title),
      icon_(icon),
      menu_(std::make_unique<QMenu>()),
      panel_(panelSize),
      content_(std::move(content)) {
    notifier_ = std::make_unique<StatusNotifierItem>(title, icon, [this](QPoint at) {
        // Hosts that know no position pass the origin; the others pass the
        // system's pixels.
        togglePanel(at.isNull() ? std::nullopt : std::optional<QPoint>(fromSystemPixels(at)));
    });
    notifier_->onWatcherChanged([this](bool present) {
        watcherPresent_ = present;
        useXEmbed(!present && onX11());
    });
    watcherPresent_ = StatusNotifierItem::watcherPresent();
    // Without a tray host the icon stays hidden until one appears; the panel
    // can still be opened (openPanel) and the history is kept meanwhile.
    useXEmbed(!watcherPresent_ && onX11());
}

MenuBarExtra::~MenuBarExtra() = default;

void MenuBarExtra::setMenu(std::vector<TrayAction> actions) {
    menu_->clear();
    for (const TrayAction& action : actions) {
        menu_->addAction(action.label, this, action.run);
    }
    notifier_->setMenu(std::move(actions));
}

void MenuBarExtra::setIcon(const QIcon& icon) {
    icon_ = icon;
    notifier_->setIcon(icon);
    if (xembed_) {
        xembed_->setIcon(icon);
    }
}

void MenuBarExtra::useXEmbed(bool use) {
    if (!use) {
        xembed_.reset();
        return;
    }
    if (xembed_) {
        return;
    }
    // Made only while no StatusNotifier watcher runs, so Qt docks it the
    // XEmbed way and never registers an item of its own beside ours.
    xembed_ = std::make_unique<QSystemTrayIcon>(icon_);
    xembed_->setToolTip(title_);
    xembed_->setContextMenu(menu_.get());
    connect(xembed_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    togglePanel();
                }
            });
    xembed_->show();
}

void MenuBarExtra::togglePanel(std::optional<QPoint> at) {
    if (panel_.isVisible()) {
        panel_.close();
        return;
    }
    if (panel_.msSinceClosed() < kReopenGuardMs) {
        return;
    }
    // The click that activated the icon left the pointer on it.
    if (!at && !xembed_ && onX11()) {
        at = QCursor::pos();
    }
    showPanel(at);
}

void MenuBarExtra::openPanel() {
    if (panel_.isVisible()) {
        panel_.raise();
        panel_.activateWindow();
        return;
    }
    showPanel(std::nullopt);
}

QString MenuBarExtra::trayKind() const {
    if (watcherPresent_) {
        return StatusNotifierItem::hostAvailable() ? QStringLiteral("StatusNotifier") : QString();
    }
    return xembed_ && QSystemTrayIcon::isSystemTrayAvailable() ? QStringLiteral("XEmbed")
                                                               : QString();
}

bool MenuBarExtra::trayHostAvailable() const {
    return !trayKind().isEmpty();
}

QString MenuBarExtra::describeTray() {
    if (StatusNotifierItem::watcherPresent()) {
        return StatusNotifierItem::hostAvailable()
                   ? QStringLiteral("StatusNotifier item")
                   : QStringLiteral("StatusNotifier item (the watcher has no host yet)");
    }
    if (onX11()) {
        return QSystemTrayIcon::isSystemTrayAvailable()
                   ? QStringLiteral("XEmbed icon")
                   : QStringLiteral(
                         "none yet (an XEmbed or StatusNotifier tray starting later "
                         "gets the icon)");
    }
    return StatusNotifierItem::sessionBusAvailable()
               ? QStringLiteral("none yet (a StatusNotifier tray starting later gets the icon)")
               : QStringLiteral("none (no session bus)");
}

bool MenuBarExtra::docksWhenTrayHostStarts() {
    // A StatusNotifier watcher is looked for on the session bus, and Qt's
    // X11 icon watches for a tray manager.
    return StatusNotifierItem::sessionBusAvailable() || onX11();
}

void MenuBarExtra::showPanel(std::optional<QPoint> at) {
    QRect icon = xembed_ ? xembed_->geometry() : QRect();
    const QPoint near = icon.isValid() ? icon.center() : at.value_or(QCursor::pos());
    const QScreen* screen = QGuiApplication::screenAt(near);
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    QRect available;
    if (screen != nullptr) {
        available = screen->availableGeometry();
        if (const auto free = freeArea(screen->geometry(), screen->devicePixelRatio())) {
            available &= *free;
        }
        if (!icon.isValid() && at) {
            // Any program on the bus may name any point; one off the screen
            // counts as its nearest edge.
            const QRect bounds = screen->geometry();
            QPoint click(std::clamp(at->x(), bounds.left(), bounds.right()),
                         std::clamp(at->y(), bounds.top(), bounds.bottom()));
            // Wayland bars may name the click within the icon rather than on
            // the screen (waybar does), and no program can learn where the
            // icon is: only how far the click lies from an edge is kept, and
            // the panel goes to the right end, where trays usually sit.
            if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY")) {
                click.setX(bounds.right());
            }
            icon = iconAround(click, bounds);
        }
    }
    panel_.open(content_(), panelGeometry(panel_.preferredSize(), icon, available));
}

QRect iconAround(QPoint click, QRect screen) {
    const int fromTop = click.y() - screen.top();
    const int fromBottom = screen.bottom() - click.y();
    if (std::min(fromTop, fromBottom) > kLargestBar / 2) {
        return {click, QSize(1, 1)};
    }
    if (fromTop <= fromBottom) {
        return {QPoint(click.x(), screen.top()), QPoint(click.x(), click.y() + fromTop)};
    }
    return {QPoint(click.x(), click.y() - fromBottom), QPoint(click.x(), screen.bottom())};
}

QRect panelGeometry(QSize size, QRect icon, QRect available) {
    // At a large scale or on a small screen the panel shrinks and its list
    // scrolls.
    if (!available.isEmpty()) {
        size = size.boundedTo(available.size());
    }
    QRect panel(QPoint(), size);
    if (!icon.isValid() || icon.isEmpty()) {
        panel.moveTopRight(available.topRight());
        return panel;
    }
    panel.moveLeft(icon.center().x() - size.width() / 2);
    // Off the icon and its bar, which may reserve no room of its own.
    if (icon.center().y() < available.center().y()) {
        panel.setHeight(std::min(size.height(), available.bottom() - icon.bottom()));
        panel.moveTop(icon.bottom() + 1);
    } else {
        panel.setHeight(std::min(size.height(), icon.top() - available.top()));
        panel.moveBottom(icon.top() - 1);
    }
    // Inside the screen's free area.
    panel.moveLeft(
        std::max(available.left(), std::min(panel.left(), available.right() - size.width() + 1)));
    panel.moveTop(
        std::max(available.top(), std::min(panel.top(), available.bottom() - panel.height() + 1)));
    return panel;
}

}  // namespace brimlet::platform::ui
