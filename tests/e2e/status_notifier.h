// A StatusNotifier tray as its host sees it, over D-Bus: the watcher's list
// of items, an item's properties and methods, and its menu
// (com.canonical.dbusmenu). Black-box: only the protocols' own names.
#pragma once

#include <QDBusConnection>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <chrono>
#include <optional>
#include <vector>

namespace brimlet::e2e {

struct StatusNotifierItem {
    QString service;
    QString path;
};

// The items registered with org.kde.StatusNotifierWatcher on `bus`.
std::vector<StatusNotifierItem> registeredItems(const QDBusConnection& bus);
// The same as one line, for failure messages.
QString describeRegisteredItems(const QDBusConnection& bus);
// The registered item that the process `pid` serves, once there is one.
std::optional<StatusNotifierItem> waitForItemOf(const QDBusConnection& bus, qint64 pid,
                                                std::chrono::milliseconds timeout);

// A property of org.kde.StatusNotifierItem (invalid when it cannot be read).
QVariant itemProperty(const QDBusConnection& bus, const StatusNotifierItem& item,
                      const QString& name);
// What a host does on a primary click; `at` is whatever the host passes.
bool activate(const QDBusConnection& bus, const StatusNotifierItem& item, QPoint at);

// The top-level entries of the item's menu as a host shows them: visible
// ones only, no separators, mnemonic marks removed. Nothing when the item
// names no menu or the menu cannot be read.
std::optional<QStringList> menuLabels(const QDBusConnection& bus, const StatusNotifierItem& item);
// Chooses the top-level entry `label` as a host does when it is clicked.
bool clickMenuEntry(const QDBusConnection& bus, const StatusNotifierItem& item,
                    const QString& label);

}  // namespace brimlet::e2e
