// The tray item: an icon with a title that opens a frameless panel next to
// itself. The panel's content is made afresh on every opening.
#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>
#include <functional>

class QSystemTrayIcon;

namespace brimlet::platform::ui {

// The popup window that holds the panel. It closes on a click outside and on
// Esc, and drops its content when it closes.
class PanelWindow final : public QWidget {
  public:
    explicit PanelWindow(QSize size);
    // Takes ownership of `content`.
    void open(QWidget* content, QPoint topLeft);
    [[nodiscard]] QWidget* content() const { return content_.data(); }
    // Milliseconds since the panel last closed; large when it never did.
    [[nodiscard]] qint64 msSinceClosed() const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    QPointer<QWidget> content_;
    QElapsedTimer closed_;
};

class MenuBarExtra final : public QObject {
  public:
    MenuBarExtra(const QString& title, const QIcon& icon, QSize panelSize,
                 std::function<QWidget*()> content);
    ~MenuBarExtra() override;

    // Opens the panel, or closes it when it is open.
    void togglePanel();
    // Opens the panel, or brings it forward when it is open. Without a docked
    // icon it goes to the top-right corner of the screen under the pointer.
    void openPanel();
    [[nodiscard]] PanelWindow& panel() { return panel_; }
    [[nodiscard]] QSystemTrayIcon& trayIcon() { return *tray_; }

    // Whether a tray host can take the icon now.
    [[nodiscard]] static bool trayHostAvailable();
    // Whether the icon docks by itself once a tray host starts later (X11's
    // trays; the StatusNotifier kind is looked for only at start).
    [[nodiscard]] static bool docksWhenTrayHostStarts();

  private:
    void showPanel();

    QSystemTrayIcon* tray_;
    PanelWindow panel_;
    std::function<QWidget*()> content_;
};

// Where a panel of `size` goes: below an icon in the top half of the screen,
// above one in the bottom half, centred on it, kept inside `available`.
// Without an icon rectangle: the top-right corner of `available`.
[[nodiscard]] QRect panelGeometry(QSize size, QRect icon, QRect available);

}  // namespace brimlet::platform::ui
