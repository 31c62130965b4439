// The D-Bus faces of the tray item: org.kde.StatusNotifierItem on the item
// and com.canonical.dbusmenu on its menu. Both read what they show from the
// StatusNotifierItem that owns them.
#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusError>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QTimer>

#include "platform/ui/dbus_tray_types.h"
#include "platform/ui/status_notifier_item.h"

namespace brimlet::platform::ui {

inline constexpr auto kTrayMenuPath = "/MenuBar";

class SniAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ title)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ none)
    Q_PROPERTY(brimlet::platform::ui::SniPixmaps IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ none)
    Q_PROPERTY(brimlet::platform::ui::SniPixmaps OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ none)
    Q_PROPERTY(brimlet::platform::ui::SniPixmaps AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ none)
    Q_PROPERTY(brimlet::platform::ui::SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

  public:
    SniAdaptor(QObject* object, StatusNotifierItem& item)
        : QDBusAbstractAdaptor(object), item_(item) {}

    [[nodiscard]] static QString category() { return QStringLiteral("ApplicationStatus"); }
    [[nodiscard]] QString title() const { return item_.title(); }
    [[nodiscard]] static QString status() { return QStringLiteral("Active"); }
    [[nodiscard]] static int windowId() { return 0; }
    [[nodiscard]] static QString none() { return {}; }
    [[nodiscard]] SniPixmaps iconPixmap() const { return item_.pixmaps(); }
    [[nodiscard]] static SniPixmaps noPixmaps() { return {}; }
    [[nodiscard]] SniToolTip toolTip() const {
        return {QString(), {}, item_.title(), item_.toolTip()};
    }
    [[nodiscard]] static bool itemIsMenu() { return false; }
    [[nodiscard]] static QDBusObjectPath menu() { return QDBusObjectPath(kTrayMenuPath); }

  public Q_SLOTS:  // NOLINT(readability-redundant-access-specifiers)
    // Hosts that draw no menu of their own ask us to show it.
    void ContextMenu(int x, int y) { item_.showMenuAt(QPoint(x, y)); }
    void Activate(int x, int y) { item_.activate(QPoint(x, y)); }
    void SecondaryActivate(int x, int y) { item_.activate(QPoint(x, y)); }
    void Scroll(int /*delta*/, const QString& /*orientation*/) {}
    // Only for raising a window of ours on Wayland, which the panel never needs.
    void ProvideXdgActivationToken(const QString& /*token*/) {}

  Q_SIGNALS:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

  private:
    StatusNotifierItem& item_;
};

// Hosts and any other program on the bus may send any id, depth or name:
// an id we do not have gets a D-Bus error, never an entry.
class DBusMenuAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

  public:
    DBusMenuAdaptor(BusObject* object, StatusNotifierItem& item)
        : QDBusAbstractAdaptor(object), call_(*object), item_(item) {}

    [[nodiscard]] static uint version() { return 3; }
    [[nodiscard]] static QString textDirection() {
        return QGuiApplication::isRightToLeft() ? QStringLiteral("rtl") : QStringLiteral("ltr");
    }
    [[nodiscard]] static QString status() { return QStringLiteral("normal"); }
    [[nodiscard]] static QStringList iconThemePath() { return {}; }

    void layoutChanged() { emit LayoutUpdated(++revision_, 0); }

  public Q_SLOTS:  // NOLINT(readability-redundant-access-specifiers)
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   brimlet::platform::ui::MenuLayout& layout) {
        if (!known(parentId)) {
            call_.sendErrorReply(QDBusError::InvalidArgs,
                                 QStringLiteral("no menu item %1").arg(parentId));
            return revision_;
        }
        layout = node(parentId, propertyNames);
        if (parentId == 0 && recursionDepth != 0) {
            for (int id = 1; id <= count(); ++id) {
                layout.children.append(node(id, propertyNames));
            }
        }
        return revision_;
    }

    brimlet::platform::ui::MenuItemPropertiesList GetGroupProperties(
        const QList<int>& ids, const QStringList& propertyNames) {
        MenuItemPropertiesList items;
        for (const int id : ids) {
            if (known(id)) {
                items.append({id, node(id, propertyNames).properties});
            }
        }
        return items;
    }

    QDBusVariant GetProperty(int id, const QString& name) {
        const QVariant value = known(id) ? node(id, {name}).properties.value(name) : QVariant();
        if (!value.isValid()) {
            call_.sendErrorReply(
                QDBusError::InvalidArgs,
                QStringLiteral("no property %1 on menu item %2").arg(name).arg(id));
            return QDBusVariant(QString());
        }
        return QDBusVariant(value);
    }

    void Event(int id, const QString& eventId, const QDBusVariant& /*data*/, uint /*timestamp*/) {
        if (known(id) && eventId == QLatin1String("clicked")) {
            // After the host's call has been answered.
            QTimer::singleShot(0, this, [this, id] { item_.runAction(id); });
        }
    }

    QList<int> EventGroup(const brimlet::platform::ui::MenuEventList& events) {
        QList<int> unknown;
        for (const MenuEvent& event : events) {
            if (known(event.id)) {
                Event(event.id, event.eventId, event.data, event.timestamp);
            } else {
                unknown.append(event.id);
            }
        }
        return unknown;
    }

    static bool AboutToShow(int /*id*/) { return false; }

    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) const {
        idErrors.clear();
        for (const int id : ids) {
            if (!known(id)) {
                idErrors.append(id);
            }
        }
        return {};
    }

  Q_SIGNALS:
    void ItemsPropertiesUpdated(const brimlet::platform::ui::MenuItemPropertiesList& updated,
                                const brimlet::platform::ui::MenuItemPropertyNamesList& removed);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

  private:
    [[nodiscard]] int count() const { return static_cast<int>(item_.actions().size()); }
    // 0 is the root; 1..count() the entries.
    [[nodiscard]] bool known(int id) const { return id >= 0 && id <= count(); }

    [[nodiscard]] MenuLayout node(int id, const QStringList& wanted) const {
        QVariantMap properties;
        if (id == 0) {
            properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
        } else if (known(id)) {
            QString label = item_.actions()[static_cast<std::size_t>(id - 1)].label;
            // An underscore marks a mnemonic in dbusmenu labels.
            properties.insert(QStringLiteral("label"), label.replace('_', QLatin1String("__")));
            properties.insert(QStringLiteral("enabled"), true);
            properties.insert(QStringLiteral("visible"), true);
        }
        if (!wanted.isEmpty()) {
            for (auto it = properties.begin(); it != properties.end();) {
                it = wanted.contains(it.key()) ? std::next(it) : properties.erase(it);
            }
        }
        return {id, properties, {}};
    }

    const QDBusContext& call_;
    StatusNotifierItem& item_;
    uint revision_ = 1;
};

}  // namespace brimlet::platform::ui
