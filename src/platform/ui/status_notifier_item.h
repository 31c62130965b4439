// The tray icon of desktops whose tray is a StatusNotifier host (KDE
// Plasma, waybar, xfce4-panel, GNOME with the AppIndicator extension): an
// item on the session bus with a menu, registered with the host's watcher
// and again whenever a watcher appears.
#pragma once

#include <QDBusContext>
#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "platform/ui/dbus_tray_types.h"

class QDBusServiceWatcher;

namespace brimlet::platform::ui {

// One entry of the tray's menu.
struct TrayAction {
    QString label;
    std::function<void()> run;
};

class SniAdaptor;
class DBusMenuAdaptor;

// An exported object whose adaptor may answer a call with a D-Bus error:
// QtDBus gives the call's context to the object, not to its adaptor.
class BusObject final : public QObject, public QDBusContext {
    Q_OBJECT
};

class StatusNotifierItem final : public QObject {
  public:
    // `activate` runs on a plain click, with the position the host names
    // (null when it names none). Nothing is registered without a session bus.
    StatusNotifierItem(const QString& title, const QIcon& icon,
                       std::function<void(QPoint)> activate);
    ~StatusNotifierItem() override;

    void setIcon(const QIcon& icon);
    void setToolTip(const QString& description);
    void setMenu(std::vector<TrayAction> actions);

    // Runs when a watcher appears (true) or goes (false).
    void onWatcherChanged(std::function<void(bool)> handler) {
        watcherChanged_ = std::move(handler);
    }

    // Whether the session bus has a watcher now (asks only the bus itself).
    [[nodiscard]] static bool watcherPresent();
    // Whether the session bus has a watcher with a host behind it now.
    [[nodiscard]] static bool hostAvailable();
    // Whether a session bus is there, so that a host starting later finds us.
    [[nodiscard]] static bool sessionBusAvailable();

    // For the adaptors.
    [[nodiscard]] const QString& title() const { return title_; }
    // Rendered once per icon: hosts read them on every NewIcon.
    [[nodiscard]] const SniPixmaps& pixmaps() const { return pixmaps_; }
    [[nodiscard]] const QString& toolTip() const { return toolTip_; }
    [[nodiscard]] const std::vector<TrayAction>& actions() const { return actions_; }
    void activate(QPoint where) const { activate_(where); }
    void showMenuAt(QPoint where);
    void runAction(int id) const;

  private:
    void registerWithWatcher();

    QString title_;
    SniPixmaps pixmaps_;
    QString toolTip_;
    std::vector<TrayAction> actions_;
    std::function<void(QPoint)> activate_;
    std::function<void(bool)> watcherChanged_;
    QString serviceName_;
    QObject itemObject_;
    BusObject menuObject_;
    SniAdaptor* item_ = nullptr;
    DBusMenuAdaptor* menu_ = nullptr;
    QDBusServiceWatcher* watcher_ = nullptr;
};

}  // namespace brimlet::platform::ui
