// The tray item: an icon with a title and a menu that opens a frameless
// panel next to itself. The panel's content is made afresh on every opening.
// The icon is a StatusNotifier item wherever the session bus has a watcher,
// and an XEmbed icon on X11 otherwise; it moves between the two as watchers
// come and go.
#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/ui/status_notifier_item.h"

class QMenu;
class QSystemTrayIcon;

namespace brimlet::platform::ui {

// The popup window that holds the panel. It closes on a click outside and on
// Esc, and drops its content when it closes.
class PanelWindow final : public QWidget {
  public:
    // `size` is the size it has wherever the screen has room for it.
    explicit PanelWindow(QSize size);
    [[nodiscard]] QSize preferredSize() const { return preferred_; }
    // Takes ownership of `content`, which fills `where`.
    void open(QWidget* content, QRect where);
    [[nodiscard]] QWidget* content() const { return content_.data(); }
    // Milliseconds since the panel last closed; large when it never did.
    [[nodiscard]] qint64 msSinceClosed() const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    QSize preferred_;
    QPointer<QWidget> content_;
    QElapsedTimer closed_;
};

class MenuBarExtra final : public QObject {
  public:
    MenuBarExtra(const QString& title, const QIcon& icon, QSize panelSize,
                 std::function<QWidget*()> content);
    ~MenuBarExtra() override;

    // What the icon's menu offers (a right click, or a host's own menu).
    void setMenu(std::vector<TrayAction> actions);
    void setIcon(const QIcon& icon);

    // Opens the panel, or closes it when it is open. `at` is where the
    // activation happened, when the tray says.
    void togglePanel(std::optional<QPoint> at = std::nullopt);
    // Opens the panel, or brings it forward when it is open. Without an icon
    // whose place is known it goes to the top-right corner of the screen.
    void openPanel();
    [[nodiscard]] PanelWindow& panel() { return panel_; }

    [[nodiscard]] const QString& title() const { return title_; }
    [[nodiscard]] const QIcon& icon() const { return icon_; }
    // The XEmbed icon while that is the one in use.
    [[nodiscard]] QSystemTrayIcon* xembedIcon() const { return xembed_.get(); }
    // "StatusNotifier", "XEmbed", or empty while no tray takes the icon.
    [[nodiscard]] QString trayKind() const;

    // Whether a tray host can take the icon now.
    [[nodiscard]] bool trayHostAvailable() const;
    // The tray an icon would use in this session, and how it is reached.
    [[nodiscard]] static QString describeTray();
    // Whether the icon docks by itself once a tray host starts later.
    [[nodiscard]] static bool docksWhenTrayHostStarts();

  private:
    void useXEmbed(bool use);
    void showPanel(std::optional<QPoint> at);

    QString title_;
    QIcon icon_;
    std::vector<TrayAction> actions_;
    std::unique_ptr<StatusNotifierItem> notifier_;
    bool watcherPresent_ = false;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> xembed_;
    PanelWindow panel_;
    std::function<QWidget*()> content_;
};

// Where a panel of `size` goes: below an icon in the top half of the screen,
// above one in the bottom half, centred on it, kept inside `available`, and
// smaller than `size` where `available` is. Without an icon rectangle: the
// top-right corner of `available`.
[[nodiscard]] QRect panelGeometry(QSize size, QRect icon, QRect available);

// Where the icon probably is when only the point of the click on it is
// known: a band from the nearer edge of `screen` to as far past the point,
// since bars centre their icons.
[[nodiscard]] QRect iconAround(QPoint click, QRect screen);

}  // namespace brimlet::platform::ui
