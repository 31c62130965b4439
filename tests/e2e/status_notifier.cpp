#include "e2e/status_notifier.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QRegularExpression>

#include "support/event_loop.h"

namespace brimlet::e2e {
namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItem = QStringLiteral("org.kde.StatusNotifierItem");

QVariant getProperty(const QDBusConnection& bus, const QString& service, const QString& path,
                     const QString& interface, const QString& name) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Properties", "Get");
    call << interface << name;
    const QDBusReply<QDBusVariant> reply = bus.call(call, QDBus::Block, 5000);
    return reply.isValid() ? reply.value().variant() : QVariant();
}

// One entry of a dbusmenu layout: (ia{sv}av), children wrapped in variants.
struct MenuEntry {
    int id = 0;
    QVariantMap properties;
    std::vector<MenuEntry> children;
};

MenuEntry readEntry(const QDBusArgument& argument) {
    MenuEntry entry;
    argument.beginStructure();
    argument >> entry.id >> entry.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        entry.children.push_back(readEntry(child.variant().value<QDBusArgument>()));
    }
    argument.endArray();
    argument.endStructure();
    return entry;
}

// "_Quit" shows as "Quit"; "__" is a plain underscore.
QString withoutMnemonic(QString label) {
    label.replace(QRegularExpression("_(.)"), "\\1");
    return label;
}

}  // namespace

std::vector<StatusNotifierItem> registeredItems(const QDBusConnection& bus) {
    std::vector<StatusNotifierItem> items;
    const QStringList entries = getProperty(bus, kWatcher, "/StatusNotifierWatcher", kWatcher,
                                            "RegisteredStatusNotifierItems")
                                    .toStringList();
    for (const QString& entry : entries) {
        // Either "service/object/path" or a bare service on the usual path.
        const auto slash = entry.indexOf('/');
        if (slash > 0) {
            items.push_back({entry.left(slash), entry.mid(slash)});
        } else if (slash < 0) {
            items.push_back({entry, "/StatusNotifierItem"});
        }
    }
    return items;
}

QString describeRegisteredItems(const QDBusConnection& bus) {
    QStringList out;
    for (const auto& item : registeredItems(bus)) {
        out << item.service + item.path;
    }
    return out.isEmpty() ? QStringLiteral("(none)") : out.join(", ");
}

std::optional<StatusNotifierItem> waitForItemOf(const QDBusConnection& bus, qint64 pid,
                                                std::chrono::milliseconds timeout) {
    std::optional<StatusNotifierItem> found;
    testing::pumpUntil(
        [&] {
            for (const auto& item : registeredItems(bus)) {
                if (bus.interface()->servicePid(item.service).value() == pid) {
                    found = item;
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

QVariant itemProperty(const QDBusConnection& bus, const StatusNotifierItem& item,
                      const QString& name) {
    return getProperty(bus, item.service, item.path, kItem, name);
}

bool activate(const QDBusConnection& bus, const StatusNotifierItem& item, QPoint at) {
    QDBusMessage call = QDBusMessage::createMethodCall(item.service, item.path, kItem, "Activate");
    call << at.x() << at.y();
    return bus.call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

namespace {

// The menu's root entry with its children, as GetLayout gives it.
std::optional<std::pair<QString, MenuEntry>> menuLayout(const QDBusConnection& bus,
                                                        const StatusNotifierItem& item) {
    const auto menu = itemProperty(bus, item, "Menu").value<QDBusObjectPath>();
    if (menu.path().isEmpty() || menu.path() == "/NO_DBUSMENU") {
        return std::nullopt;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(item.service, menu.path(),
                                                       "com.canonical.dbusmenu", "GetLayout");
    call << 0 << -1 << QStringList();
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2) {
        return std::nullopt;
    }
    return std::make_pair(menu.path(), readEntry(reply.arguments().at(1).value<QDBusArgument>()));
}

bool shown(const MenuEntry& entry) {
    return entry.properties.value("visible", true).toBool() &&
           entry.properties.value("type").toString() != "separator";
}

}  // namespace

std::optional<QStringList> menuLabels(const QDBusConnection& bus, const StatusNotifierItem& item) {
    const auto layout = menuLayout(bus, item);
    if (!layout) {
        return std::nullopt;
    }
    QStringList labels;
    for (const MenuEntry& entry : layout->second.children) {
        if (shown(entry)) {
            labels << withoutMnemonic(entry.properties.value("label").toString());
        }
    }
    return labels;
}

bool clickMenuEntry(const QDBusConnection& bus, const StatusNotifierItem& item,
                    const QString& label) {
    const auto layout = menuLayout(bus, item);
    if (!layout) {
        return false;
    }
    for (const MenuEntry& entry : layout->second.children) {
        if (shown(entry) && withoutMnemonic(entry.properties.value("label").toString()) == label) {
            QDBusMessage event = QDBusMessage::createMethodCall(item.service, layout->first,
                                                                "com.canonical.dbusmenu", "Event");
            event << entry.id << QString("clicked")
                  << QVariant::fromValue(QDBusVariant(QVariant(0))) << 0U;
            return bus.call(event, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
        }
    }
    return false;
}

}  // namespace brimlet::e2e
