// The D-Bus structures of a StatusNotifierItem and of its dbusmenu, as Qt
// marshals them.
#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusVariant>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class QIcon;

namespace brimlet::platform::ui {

// One size of the icon: ARGB32 pixels in network byte order, (iiay).
struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using SniPixmaps = QList<SniPixmap>;

// (sa(iiay)ss)
struct SniToolTip {
    QString iconName;
    SniPixmaps pixmaps;
    QString title;
    QString description;
};

// A menu node and its children, (ia{sv}av).
struct MenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<MenuLayout> children;
};

// (ia{sv})
struct MenuItemProperties {
    int id = 0;
    QVariantMap properties;
};
using MenuItemPropertiesList = QList<MenuItemProperties>;

// (ias)
struct MenuItemPropertyNames {
    int id = 0;
    QStringList names;
};
using MenuItemPropertyNamesList = QList<MenuItemPropertyNames>;

// (isvu)
struct MenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using MenuEventList = QList<MenuEvent>;

// The icon at the sizes trays draw.
[[nodiscard]] SniPixmaps sniPixmaps(const QIcon& icon);

// Once per process, before anything is exported.
void registerTrayDBusTypes();

QDBusArgument& operator<<(QDBusArgument& argument, const SniPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& tip);
QDBusArgument& operator<<(QDBusArgument& argument, const MenuLayout& layout);
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuLayout& layout);
QDBusArgument& operator<<(QDBusArgument& argument, const MenuItemProperties& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuItemProperties& item);
QDBusArgument& operator<<(QDBusArgument& argument, const MenuItemPropertyNames& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuItemPropertyNames& item);
QDBusArgument& operator<<(QDBusArgument& argument, const MenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuEvent& event);

}  // namespace brimlet::platform::ui

Q_DECLARE_METATYPE(brimlet::platform::ui::SniPixmap)
Q_DECLARE_METATYPE(brimlet::platform::ui::SniToolTip)
Q_DECLARE_METATYPE(brimlet::platform::ui::MenuLayout)
Q_DECLARE_METATYPE(brimlet::platform::ui::MenuItemProperties)
Q_DECLARE_METATYPE(brimlet::platform::ui::MenuItemPropertyNames)
Q_DECLARE_METATYPE(brimlet::platform::ui::MenuEvent)
