#include "support/desktop.h"

#include <sys/prctl.h>

#include <QDBusInterface>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QStandardPaths>
#include <csignal>

#include "support/event_loop.h"

namespace brimlet::testing {
namespace {

using namespace std::chrono_literals;

void end(QProcess& process) {
    if (process.state() == QProcess::NotRunning) {
        return;
    }
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(2000);
    }
}

// xfce4-panel with only its notification area, along one edge. xfconfd,
// which the bus starts, reads it from XDG_CONFIG_HOME.
QByteArray xfcePanelConfig(Desktop::Edge edge) {
    return QString(R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0"><property name="configver" type="int" value="2"/>
  <property name="panels" type="array"><value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=%1;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="28"/>
      <property name="plugin-ids" type="array"><value type="int" value="1"/></property>
  </property></property>
  <property name="plugins" type="empty"><property name="plugin-1" type="string" value="systray"/>
</property></channel>)")
        .arg(edge == Desktop::Edge::Top ? 6 : 8)
        .toUtf8();
}

constexpr int kWaybarHeight = 26;

bool writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(content) == content.size();
}

// Lines of NAME=value, as sway's start and xdotool's --shell write them.
QMap<QString, QString> keyValues(const QByteArray& text) {
    QMap<QString, QString> out;
    for (const QString& line : QString::fromUtf8(text).split('\n')) {
        out[line.section('=', 0, 0)] = line.section('=', 1);
    }
    return out;
}

}  // namespace

Desktop::Desktop(Kind kind, Edge edge)
    : kind_(kind),
      edge_(edge),
      dir_(QDir::tempPath() + "/brimlet-desktop-XXXXXX"),
      env_(QProcessEnvironment::systemEnvironment()) {
    // Nothing of the developer's own session gets through.
    for (const char* name :
         {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "DBUS_SESSION_BUS_ADDRESS",
          "XDG_RUNTIME_DIR", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP", "XAUTHORITY",
          "SESSION_MANAGER", "SWAYSOCK", "I3SOCK", "AT_SPI_BUS_ADDRESS", "QT_QPA_PLATFORM",
          "GDK_BACKEND", "XDG_STATE_HOME", "LANGUAGE", "LC_ALL"}) {
        env_.remove(QString::fromLatin1(name));
    }
    env_.insert("LANG", "C.UTF-8");
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"}) {
        env_.insert(name, path(QString::fromLatin1(name).toLower()));
    }
    // What the tests run in it; what starts it says itself when it is missing.
    const QStringList tools = kind == Kind::Sway
                                  ? QStringList{"sway", "waybar", "wl-copy", "wl-paste", "grim"}
                                  : QStringList{"Xvfb", "xclip", "import"};
    for (const QString& tool : tools + QStringList{"dbus-daemon", "xdotool"}) {
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            fail(tool + " is not installed (tools/install-deps --test installs it)");
            return;
        }
    }
    if (kind == Kind::Xfce && !writeFile(env_.value("XDG_CONFIG_HOME") +
                                             "/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml",
                                         xfcePanelConfig(edge))) {
        fail("cannot write the panel's settings");
        return;
    }
    if (kind == Kind::Sway ? startSway() : startX()) {
        startBus();
    }
}

Desktop::~Desktop() {
    if (!busName_.isEmpty()) {
        QDBusConnection::disconnectFromBus(busName_);
    }
    for (auto it = helpers_.rbegin(); it != helpers_.rend(); ++it) {
        end(**it);
    }
}

bool Desktop::fail(const QString& why) {
    if (failure_.isEmpty()) {
        failure_ = why;
    }
    return false;
}

bool Desktop::useRuntimeDir(const QString& path) {
    // Only its user may enter it, as XDG_RUNTIME_DIR must be.
    if (!QDir().mkpath(path) ||
        !QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        return fail("cannot make " + path);
    }
    env_.insert("XDG_RUNTIME_DIR", path);
    return true;
}

bool Desktop::startX() {
    // Xvfb picks a free display and tells its number.
    display_ = start(
        "xvfb", "Xvfb",
        {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset"}, true);
    if (!running() || !pumpUntil([&] { return display_->canReadLine(); }, 10s)) {
        return fail("Xvfb did not start" + logTail("xvfb"));
    }
    env_.insert("DISPLAY", ":" + QString::fromUtf8(display_->readLine()).trimmed());
    env_.insert("XDG_SESSION_TYPE", "x11");
    return useRuntimeDir(path("run"));
}

bool Desktop::startSway() {
    // One way to start it, shared with tools/test-all.
    start("sway", "bash", {BRIMLET_PRIVATE_SWAY, path("sway")});
    QMap<QString, QString> found;
    pumpUntil(
        [&] {
            QFile file(path("sway/env"));
            found = keyValues(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
            return found.contains("WAYLAND_DISPLAY") && found.contains("DISPLAY");
        },
        20s);
    waylandSocket_ = found.value("WAYLAND_DISPLAY");
    if (!running() || waylandSocket_.isEmpty()) {
        return fail("sway or XWayland did not start, or XWayland did not let us in" +
                    logTail("sway"));
    }
    // Programs of the session find the compositor in a runtime folder of
    // their own user, as on a desktop.
    if (!useRuntimeDir(path("client")) || !QFile::link(waylandSocket_, path("client/wayland-1"))) {
        return fail("cannot link the Wayland socket");
    }
    env_.insert("WAYLAND_DISPLAY", "wayland-1");
    env_.insert("DISPLAY", found.value("DISPLAY"));
    env_.insert("XDG_SESSION_TYPE", "wayland");
    env_.insert("XDG_CURRENT_DESKTOP", "sway");
    return true;
}

bool Desktop::startBus() {
    // Services it starts (the accessibility bus, xfconfd) see the desktop.
    QProcess* daemon = start(
        "dbus", "dbus-daemon",
        {"--session", "--nofork", "--print-address=1", "--address=unix:path=" + path("bus")}, true);
    if (!running() || !pumpUntil([&] { return daemon->canReadLine(); }, 5s)) {
        return fail("dbus-daemon did not start" + logTail("dbus"));
    }
    const QString address = QString::fromUtf8(daemon->readLine()).trimmed();
    env_.insert("DBUS_SESSION_BUS_ADDRESS", address);
    static int serial = 0;
    busName_ = QString("brimlet-desktop-%1").arg(++serial);
    if (!QDBusConnection::connectToBus(address, busName_).isConnected()) {
        return fail("cannot connect to the private bus " + address);
    }
    return true;
}

bool Desktop::startTray() {
    if (!running()) {
        return false;
    }
    if (kind_ == Kind::Trayer) {
        start("tray", "trayer",
              {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24",
               "--SetDockType", "true", "--transparent", "false"});
    } else if (kind_ == Kind::Xfce) {
        // Without a window manager it would wait for one for seconds.
        start("tray", "xfce4-panel", {"--disable-wm-check"});
    } else {
        const QByteArray config = QString(R"({"layer": "top", "position": "top", "height": %1,
            "modules-right": ["tray"], "tray": {"icon-size": 20, "spacing": 4}})")
                                      .arg(kWaybarHeight)
                                      .toUtf8();
        if (!writeFile(path("waybar.json"), config)) {
            return fail("cannot write waybar's settings");
        }
        // GTK on Wayland: a layer-shell bar.
        start("tray", "env",
              {"-u", "DISPLAY", "GDK_BACKEND=wayland", "waybar", "-c", path("waybar.json")});
    }
    const QString watcher = "org.kde.StatusNotifierWatcher";
    const auto hosts = [&] {
        return kind_ == Kind::Trayer ||
               QDBusInterface(watcher, "/StatusNotifierWatcher", watcher, bus())
                   .property("IsStatusNotifierHostRegistered")
                   .toBool();
    };
    if (!running() || !pumpUntil([&] { return hosts() && barGeometry().has_value(); }, 15s)) {
        return fail("the tray did not start" + logTail("tray"));
    }
    return true;
}

bool Desktop::startWindowManager() {
    start("wm", "xfwm4", {"--compositor=off"});
    if (!running() ||
        !pumpUntil(
            [&] {
                return run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id");
            },
            15s)) {
        return fail("the window manager did not start" + logTail("wm"));
    }
    return true;
}

std::optional<QRect> Desktop::barGeometry() const {
    if (kind_ == Kind::Sway) {
        return QRect(0, 0, kScreen.width(), kWaybarHeight);
    }
    for (const QRect& rect : windows(kind_ == Kind::Trayer ? "trayer" : "xfce4-panel")) {
        // xfce4-panel's other windows are small; its bar spans the screen.
        if (kind_ == Kind::Trayer ||
            (rect.width() == kScreen.width() &&
             (edge_ == Edge::Top ? rect.top() == 0 : rect.bottom() == kScreen.bottom()))) {
            return rect;
        }
    }
    return std::nullopt;
}

void Desktop::endDisplay() {
    if (display_ != nullptr) {
        end(*display_);
    }
}

QProcess* Desktop::start(const QString& name, const QString& program, const QStringList& arguments,
                         bool readOutput) {
    auto& helper = helpers_.emplace_back(std::make_unique<QProcess>());
    helper->setProcessEnvironment(env_);
    // A test that crashes takes its desktop with it.
    helper->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    if (readOutput) {
        helper->setStandardErrorFile(path(name + ".log"));
    } else {
        helper->setProcessChannelMode(QProcess::MergedChannels);
        helper->setStandardOutputFile(path(name + ".log"));
    }
    helper->setStandardInputFile(QProcess::nullDevice());
    helper->start(program, arguments);
    if (!helper->waitForStarted(5000)) {
        fail(program + " did not start: " + helper->errorString());
    }
    return helper.get();
}

QString Desktop::logTail(const QString& name) const {
    QFile file(path(name + ".log"));
    return file.open(QIODevice::ReadOnly) ? "\n" + QString::fromUtf8(file.readAll().right(600))
                                          : QString();
}

QByteArray Desktop::run(const QString& program, const QStringList& arguments,
                        const QByteArray& input) const {
    QProcess process;
    process.setProcessEnvironment(env_);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(1000);
    }
    return process.readAllStandardOutput();
}

void Desktop::click(QPoint at) const {
    // The pause lets the widget see the pointer arrive before the press.
    run("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "sleep", "0.05",
                    "click", "1"});
}

void Desktop::copy(const QByteArray& text) const {
    kind_ == Kind::Sway ? run("wl-copy", {}, text)
                        : run("xclip", {"-selection", "clipboard", "-i"}, text);
}

QByteArray Desktop::paste() const {
    return kind_ == Kind::Sway ? run("wl-paste", {"--no-newline"})
                               : run("xclip", {"-selection", "clipboard", "-o"});
}

std::vector<QRect> Desktop::windows(const QString& windowClass) const {
    std::vector<QRect> out;
    for (const QString& id :
         QString::fromUtf8(run("xdotool", {"search", "--onlyvisible", "--class", windowClass}))
             .split('\n', Qt::SkipEmptyParts)) {
        const auto v = keyValues(run("xdotool", {"getwindowgeometry", "--shell", id}));
        if (v.value("WIDTH").toInt() > 0) {  // not gone meanwhile
            out.emplace_back(v["X"].toInt(), v["Y"].toInt(), v["WIDTH"].toInt(),
                             v["HEIGHT"].toInt());
        }
    }
    return out;
}

bool Desktop::screenshot(const QString& file) const {
    QDir().mkpath(QFileInfo(file).path());
    QFile::remove(file);
    kind_ == Kind::Sway ? run("grim", {file}) : run("import", {"-window", "root", file});
    return QFileInfo(file).size() > 0;
}

}  // namespace brimlet::testing
