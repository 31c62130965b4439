// Whole desktops of the tests' own, started from nothing and ended with the
// object: Xvfb with trayer (an XEmbed tray) or with xfce4-panel (a
// StatusNotifier tray), or a headless sway with XWayland and waybar. Each has
// a private session bus and runtime folder; none touches the developer's
// displays, buses or runtime dir. One that cannot start says why (failure()).
#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <vector>

namespace brimlet::testing {

class Desktop {
  public:
    enum class Kind { Trayer, Xfce, Sway };
    enum class Edge { Top, Bottom };  // of xfce4-panel's bar
    static constexpr QRect kScreen{0, 0, 1280, 800};

    // The display and the bus; the tray waits for startTray(), so that a
    // test can start a program before it.
    explicit Desktop(Kind kind, Edge edge = Edge::Top);
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    [[nodiscard]] bool running() const { return failure_.isEmpty(); }
    [[nodiscard]] const QString& failure() const { return failure_; }
    // trayer, xfce4-panel or waybar; true once its bar shows and it hosts icons.
    bool startTray();
    // xfwm4 on an X desktop; true once it manages the screen.
    bool startWindowManager();
    [[nodiscard]] std::optional<QRect> barGeometry() const;
    // Ends the X server (not XWayland) as if the display went away.
    void endDisplay();

    // What a program of this desktop starts with.
    [[nodiscard]] const QProcessEnvironment& environment() const { return env_; }
    [[nodiscard]] QDBusConnection bus() const { return QDBusConnection(busName_); }
    [[nodiscard]] QString runtimeDir() const { return env_.value("XDG_RUNTIME_DIR"); }
    [[nodiscard]] const QString& waylandSocket() const { return waylandSocket_; }

    // Runs a program to its end; its standard output.
    QByteArray run(const QString& program, const QStringList& arguments,
                   const QByteArray& input = {}) const;

    // A person's pointer and keys (xdotool; on sway through XWayland).
    void click(QPoint at) const;
    void type(const QString& text) const { run("xdotool", {"type", "--delay", "20", text}); }
    // Keys one after another, e.g. "Down Down Return", "ctrl+q".
    void key(const QString& keys) const { run("xdotool", QStringList{"key"} + keys.split(' ')); }
    // Another program copies; what another program pastes (xclip, or
    // wl-copy and wl-paste on sway).
    void copy(const QByteArray& text) const;
    [[nodiscard]] QByteArray paste() const;
    // Where the visible X windows of a class are.
    [[nodiscard]] std::vector<QRect> windows(const QString& windowClass) const;
    bool screenshot(const QString& file) const;

  private:
    bool fail(const QString& why);
    bool startX();
    bool startSway();
    bool startBus();
    bool useRuntimeDir(const QString& path);
    // A program that runs until the desktop's end. Its output goes to
    // <name>.log in the private folder; with `readOutput` its standard
    // output stays readable.
    QProcess* start(const QString& name, const QString& program, const QStringList& arguments,
                    bool readOutput = false);
    [[nodiscard]] QString path(const QString& relative) const { return dir_.filePath(relative); }
    [[nodiscard]] QString logTail(const QString& name) const;

    Kind kind_;
    Edge edge_;
    QTemporaryDir dir_;
    QProcessEnvironment env_;
    std::vector<std::unique_ptr<QProcess>> helpers_;
    QProcess* display_ = nullptr;
    QString waylandSocket_;
    QString busName_;
    QString failure_;
};

}  // namespace brimlet::testing
