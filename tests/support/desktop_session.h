// Whole desktops of the tests' own, started from nothing and ended with the
// object: a headless sway with XWayland and waybar, and an X server with
// xfce4-panel. Each has a private D-Bus session bus and private runtime
// folders; none ever touches the developer's displays, buses or runtime dir.
// A session that cannot start says why (failure()), so a test can skip.
#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace brimlet::testing {

// What both desktops share: a private folder, a private session bus and the
// helper programs, ended in reverse order of their start.
class PrivateSession {
  public:
    virtual ~PrivateSession();
    PrivateSession(const PrivateSession&) = delete;
    PrivateSession& operator=(const PrivateSession&) = delete;

    // True once everything asked for runs; otherwise failure() says why.
    [[nodiscard]] bool running() const { return started_ && failure_.isEmpty(); }
    [[nodiscard]] const QString& failure() const { return failure_; }

    [[nodiscard]] const QString& busAddress() const { return busAddress_; }
    // A connection of the test's own to the private bus.
    [[nodiscard]] QDBusConnection bus() const;
    // The environment of a program that runs in this session.
    [[nodiscard]] const QProcessEnvironment& environment() const { return environment_; }
    [[nodiscard]] const QString& x11Display() const { return x11Display_; }
    [[nodiscard]] QRect screen() const { return {0, 0, 1280, 800}; }

    // An X window's rectangle on screen (xdotool), by its id.
    [[nodiscard]] std::optional<QRect> windowGeometry(const QString& id) const;
    // True once somebody owns `name` on the private bus.
    bool waitForBusName(const QString& name, std::chrono::milliseconds timeout) const;
    // The private StatusNotifier watcher is there and has a host.
    bool waitForStatusNotifierHost(std::chrono::milliseconds timeout) const;

  protected:
    explicit PrivateSession(const char* name);

    // Records the first reason the session cannot start; always false.
    bool fail(const QString& why);
    bool requireTools(const QStringList& programs);
    [[nodiscard]] QString path(const QString& relative) const { return dir_.filePath(relative); }
    bool writeFile(const QString& relative, const QByteArray& content);
    // Starts a helper whose output goes to <name>.log in the private folder.
    // With `readOutput`, its standard output stays readable instead.
    QProcess* startHelper(const QString& name, const QString& program, const QStringList& arguments,
                          const QProcessEnvironment& environment, bool readOutput = false);
    // Ends one helper (and forgets it); the rest end with the session.
    void stopHelper(QProcess* helper);
    // The last lines a helper wrote, for failure messages.
    [[nodiscard]] QString logTail(const QString& name) const;
    // The session bus, with `environment` for the services it starts.
    bool startBus(const QProcessEnvironment& environment);
    // Runs a short command to its end; true on exit status 0.
    static bool runQuietly(const QString& program, const QStringList& arguments,
                           const QProcessEnvironment& environment);

    QTemporaryDir dir_;
    QProcessEnvironment environment_;
    QString x11Display_;
    bool started_ = false;

  private:
    std::vector<std::unique_ptr<QProcess>> helpers_;
    QString busAddress_;
    QString connectionName_;
    QString failure_;
};

// Headless sway 1.7 with XWayland (tools/private-sway: as root, sway runs as
// an unprivileged user in a mount namespace with its own /tmp) and, when
// asked for, waybar at the top with its tray (a StatusNotifier host).
class SwaySession : public PrivateSession {
  public:
    static constexpr int kBarHeight = 26;

    explicit SwaySession(bool withBar = true);

    // The Wayland socket's full path.
    [[nodiscard]] const QString& waylandSocket() const { return waylandSocket_; }
    [[nodiscard]] QRect barGeometry() const { return {0, 0, screen().width(), kBarHeight}; }

    // waybar (its tray provides org.kde.StatusNotifierWatcher); true once the
    // watcher is on the bus.
    bool startBar();
    void stopBar();
    // A picture of the whole output (grim, through wlroots' screencopy).
    bool screenshot(const QString& file) const;

  private:
    bool startCompositor();

    QString waylandSocket_;
    QProcess* bar_ = nullptr;
};

// An X server with xfce4-panel and only its notification area plugin
// (systray: a StatusNotifier watcher and host, and an XEmbed tray), the bar
// along the top or the bottom edge. No window manager.
class XfcePanelSession : public PrivateSession {
  public:
    enum class Edge { Top, Bottom };
    static constexpr int kBarSize = 28;

    // The panel itself starts with startPanel(), so that a test can start a
    // program before it.
    explicit XfcePanelSession(Edge edge);

    bool startPanel();
    // The bar's window on screen, once it is mapped.
    [[nodiscard]] std::optional<QRect> barGeometry() const;

  private:
    Edge edge_;
    QProcess* panel_ = nullptr;
};

}  // namespace brimlet::testing
