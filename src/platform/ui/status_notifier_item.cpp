#include "platform/ui/status_notifier_item.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QMenu>

#include "platform/ui/dbus_tray_types.h"
#include "platform/ui/status_notifier_adaptors.h"

namespace brimlet::platform::ui {
namespace {

constexpr auto kWatcherService = "org.kde.StatusNotifierWatcher";
constexpr auto kWatcherPath = "/StatusNotifierWatcher";
constexpr auto kItemPath = "/StatusNotifierItem";
// A call to another program on the bus waits no longer than this.
constexpr int kBusTimeoutMs = 500;

}  // namespace

StatusNotifierItem::StatusNotifierItem(const QString& title, const QIcon& icon,
                                       std::function<void(QPoint)> activate)
    : title_(title), pixmaps_(sniPixmaps(icon)), activate_(std::move(activate)) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    registerTrayDBusTypes();
    static int instances = 0;
    serviceName_ = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                       .arg(QCoreApplication::applicationPid())
                       .arg(++instances);
    item_ = new SniAdaptor(&itemObject_, *this);
    menu_ = new DBusMenuAdaptor(&menuObject_, *this);
    bus.registerObject(kItemPath, &itemObject_, QDBusConnection::ExportAdaptors);
    bus.registerObject(kTrayMenuPath, &menuObject_, QDBusConnection::ExportAdaptors);
    bus.registerService(serviceName_);

    // A host that starts or restarts later finds the item without a restart.
    watcher_ = new QDBusServiceWatcher(
        kWatcherService, bus,
        QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration,
        this);
    connect(watcher_, &QDBusServiceWatcher::serviceRegistered, this, [this] {
        registerWithWatcher();
        if (watcherChanged_) {
            watcherChanged_(true);
        }
    });
    connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        if (watcherChanged_) {
            watcherChanged_(false);
        }
    });
    registerWithWatcher();
}

StatusNotifierItem::~StatusNotifierItem() {
    if (!serviceName_.isEmpty()) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(serviceName_);
        bus.unregisterObject(kItemPath);
        bus.unregisterObject(kTrayMenuPath);
    }
}

void StatusNotifierItem::registerWithWatcher() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, kWatcherService,
                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << serviceName_;
    // Never waits: a watcher that is absent or slow costs nothing here.
    QDBusConnection::sessionBus().asyncCall(call, kBusTimeoutMs);
}

void StatusNotifierItem::setIcon(const QIcon& icon) {
    pixmaps_ = sniPixmaps(icon);
    if (item_ != nullptr) {
        emit item_->NewIcon();
    }
}

void StatusNotifierItem::setToolTip(const QString& description) {
    toolTip_ = description;
    if (item_ != nullptr) {
        emit item_->NewToolTip();
    }
}

void StatusNotifierItem::setMenu(std::vector<TrayAction> actions) {
    actions_ = std::move(actions);
    if (menu_ != nullptr) {
        menu_->layoutChanged();
    }
}

void StatusNotifierItem::showMenuAt(QPoint where) {
    auto* menu = new QMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (std::size_t i = 0; i < actions_.size(); ++i) {
        menu->addAction(actions_[i].label, this, [this, i] { runAction(static_cast<int>(i + 1)); });
    }
    menu->popup(where);
}

void StatusNotifierItem::runAction(int id) const {
    if (id >= 1 && id <= static_cast<int>(actions_.size())) {
        actions_[static_cast<std::size_t>(id - 1)].run();
    }
}

bool StatusNotifierItem::sessionBusAvailable() {
    return QDBusConnection::sessionBus().isConnected();
}

bool StatusNotifierItem::watcherPresent() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface()->isServiceRegistered(kWatcherService);
}

bool StatusNotifierItem::hostAvailable() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(kWatcherService)) {
        return false;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << QString(kWatcherService) << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(get, QDBus::Block, kBusTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toBool();
}

}  // namespace brimlet::platform::ui
