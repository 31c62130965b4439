#include "support/desktop_session.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QStandardPaths>
#include <csignal>

#include "support/event_loop.h"

namespace brimlet::testing {
namespace {

using namespace std::chrono_literals;

void endProcess(QProcess& process) {
    if (process.state() == QProcess::NotRunning) {
        return;
    }
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(2000);
    }
}

// The environment every helper starts from: this process's, without
// anything that points at the developer's own session.
QProcessEnvironment cleanEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "DBUS_SESSION_BUS_ADDRESS",
          "XDG_RUNTIME_DIR", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP", "XAUTHORITY",
          "SESSION_MANAGER", "SWAYSOCK", "I3SOCK", "AT_SPI_BUS_ADDRESS", "QT_QPA_PLATFORM",
          "GDK_BACKEND", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"}) {
        env.remove(QString::fromLatin1(name));
    }
    env.insert("LANG", "C.UTF-8");
    env.remove("LANGUAGE");
    env.remove("LC_ALL");
    return env;
}

// A runtime folder only its user may enter, as XDG_RUNTIME_DIR must be.
bool makePrivateDir(const QString& path) {
    return QDir().mkpath(path) &&
           QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace

// ---------------------------------------------------------------- shared

PrivateSession::PrivateSession(const char* name)
    : dir_(QDir::tempPath() + "/brimlet-" + name + "-XXXXXX"), environment_(cleanEnvironment()) {
    if (!dir_.isValid()) {
        fail("cannot make a private folder under " + QDir::tempPath());
    }
}

PrivateSession::~PrivateSession() {
    if (!connectionName_.isEmpty()) {
        QDBusConnection::disconnectFromBus(connectionName_);
    }
    for (auto it = helpers_.rbegin(); it != helpers_.rend(); ++it) {
        endProcess(**it);
    }
}

bool PrivateSession::fail(const QString& why) {
    if (failure_.isEmpty()) {
        failure_ = why;
    }
    return false;
}

bool PrivateSession::requireTools(const QStringList& programs) {
    for (const QString& program : programs) {
        if (QStandardPaths::findExecutable(program).isEmpty() &&
            QStandardPaths::findExecutable(program, {"/usr/sbin", "/sbin"}).isEmpty()) {
            return fail(program + " is not installed (tools/install-deps --test installs it)");
        }
    }
    return true;
}

bool PrivateSession::writeFile(const QString& relative, const QByteArray& content) {
    QFile file(path(relative));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) < 0) {
        return fail("cannot write " + file.fileName());
    }
    return true;
}

QProcess* PrivateSession::startHelper(const QString& name, const QString& program,
                                      const QStringList& arguments,
                                      const QProcessEnvironment& environment, bool readOutput) {
    auto& helper = helpers_.emplace_back(std::make_unique<QProcess>());
    helper->setProcessEnvironment(environment);
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

void PrivateSession::stopHelper(QProcess* helper) {
    for (auto it = helpers_.begin(); it != helpers_.end(); ++it) {
        if (it->get() == helper) {
            endProcess(*helper);
            helpers_.erase(it);
            return;
        }
    }
}

QString PrivateSession::logTail(const QString& name) const {
    QFile file(path(name + ".log"));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    return "\n  " + lines.mid(std::max<qsizetype>(0, lines.size() - 8)).join("\n  ");
}

bool PrivateSession::startBus(const QProcessEnvironment& environment) {
    QProcess* daemon = startHelper(
        "dbus", "dbus-daemon",
        {"--session", "--nofork", "--print-address=1", "--address=unix:path=" + path("bus")},
        environment, true);
    if (!failure().isEmpty() || !pumpUntil([&] { return daemon->canReadLine(); }, 5000ms)) {
        return fail("dbus-daemon did not start" + logTail("dbus"));
    }
    busAddress_ = QString::fromUtf8(daemon->readLine()).trimmed();
    environment_.insert("DBUS_SESSION_BUS_ADDRESS", busAddress_);
    static int serial = 0;
    connectionName_ = QString("brimlet-private-session-%1").arg(++serial);
    if (!QDBusConnection::connectToBus(busAddress_, connectionName_).isConnected()) {
        return fail("cannot connect to the private bus " + busAddress_);
    }
    return true;
}

QDBusConnection PrivateSession::bus() const {
    return QDBusConnection(connectionName_);
}

bool PrivateSession::waitForBusName(const QString& name, std::chrono::milliseconds timeout) const {
    const QDBusConnection connection = bus();
    return connection.isConnected() &&
           pumpUntil([&] { return connection.interface()->isServiceRegistered(name).value(); },
                     timeout);
}

bool PrivateSession::waitForStatusNotifierHost(std::chrono::milliseconds timeout) const {
    const QString watcher = "org.kde.StatusNotifierWatcher";
    if (!waitForBusName(watcher, timeout)) {
        return false;
    }
    return pumpUntil(
        [&] {
            QDBusInterface properties(watcher, "/StatusNotifierWatcher",
                                      "org.freedesktop.DBus.Properties", bus());
            const QDBusReply<QDBusVariant> host =
                properties.call("Get", watcher, "IsStatusNotifierHostRegistered");
            return host.isValid() && host.value().variant().toBool();
        },
        timeout);
}

bool PrivateSession::runQuietly(const QString& program, const QStringList& arguments,
                                const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(5000)) {
        return false;
    }
    pumpUntil([&] { return process.state() == QProcess::NotRunning; }, 15000ms);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// ---------------------------------------------------------------- sway

SwaySession::SwaySession(bool withBar) : PrivateSession("sway") {
    QStringList tools{"bash", "sway", "Xwayland", "dbus-daemon", "xdpyinfo"};
    if (getuid() == 0) {
        tools << "unshare"
              << "setpriv"
              << "mount"
              << "xhost";
    }
    if (withBar) {
        tools << "waybar";
    }
    if (!failure().isEmpty() || !requireTools(tools) || !startCompositor()) {
        return;
    }

    // Programs of the session find the compositor through a runtime folder
    // of their own user, as on a desktop.
    const QString clientRuntime = path("client");
    if (!makePrivateDir(clientRuntime) ||
        !QFile::link(waylandSocket_, clientRuntime + "/wayland-1")) {
        fail("cannot make the runtime folder " + clientRuntime);
        return;
    }
    environment_.insert("XDG_RUNTIME_DIR", clientRuntime);
    environment_.insert("WAYLAND_DISPLAY", "wayland-1");
    environment_.insert("DISPLAY", x11Display_);
    environment_.insert("XDG_SESSION_TYPE", "wayland");
    environment_.insert("XDG_CURRENT_DESKTOP", "sway");
    // The bus's activated services (the accessibility bus) see the same.
    if (!startBus(environment_)) {
        return;
    }
    started_ = !withBar || startBar();
}

bool SwaySession::startCompositor() {
    // One way to start it, shared with tools/test-all.
    startHelper("sway", "bash", {BRIMLET_PRIVATE_SWAY, path("sway")}, environment_);
    if (!failure().isEmpty()) {
        return false;
    }
    QMap<QString, QString> found;
    pumpUntil(
        [&] {
            QFile file(path("sway/env"));
            if (file.open(QIODevice::ReadOnly)) {
                for (const QString& line : QString::fromUtf8(file.readAll()).split('\n')) {
                    found[line.section('=', 0, 0)] = line.section('=', 1);
                }
            }
            return found.contains("WAYLAND_DISPLAY") && found.contains("DISPLAY");
        },
        20000ms);
    waylandSocket_ = found.value("WAYLAND_DISPLAY");
    x11Display_ = found.value("DISPLAY");
    if (waylandSocket_.isEmpty() || x11Display_.isEmpty()) {
        return fail("sway or XWayland did not start, or XWayland did not let us in" +
                    logTail("sway"));
    }
    return true;
}

bool SwaySession::startBar() {
    if (bar_ != nullptr) {
        return true;
    }
    QDir().mkpath(path("waybar"));
    const QByteArray config = QString(R"({
  "layer": "top",
  "position": "top",
  "height": %1,
  "modules-left": [],
  "modules-center": [],
  "modules-right": ["tray"],
  "tray": {"icon-size": 20, "spacing": 4}
})")
                                  .arg(kBarHeight)
                                  .toUtf8();
    if (!writeFile("waybar/config", config) ||
        !writeFile("waybar/style.css",
                   "* { font-family: sans-serif; font-size: 12px; }\n"
                   "window#waybar { background: #2b303b; }\n")) {
        return false;
    }
    QProcessEnvironment env = environment_;
    env.remove("DISPLAY");  // GTK on Wayland: a layer-shell bar
    env.insert("GDK_BACKEND", "wayland");
    env.insert("HOME", path("home"));
    env.insert("XDG_CONFIG_HOME", path("config"));
    bar_ = startHelper("waybar", "waybar",
                       {"-c", path("waybar/config"), "-s", path("waybar/style.css")}, env);
    if (!failure().isEmpty()) {
        return false;
    }
    if (!waitForStatusNotifierHost(10000ms)) {
        return fail("waybar's tray did not take org.kde.StatusNotifierWatcher" + logTail("waybar"));
    }
    return true;
}

void SwaySession::stopBar() {
    stopHelper(bar_);
    bar_ = nullptr;
}

bool SwaySession::screenshot(const QString& file) const {
    return runQuietly("grim", {file}, environment_);
}

// ---------------------------------------------------------------- xfce4-panel

XfcePanelSession::XfcePanelSession(Edge edge) : PrivateSession("xfce"), edge_(edge) {
    if (!failure().isEmpty() ||
        !requireTools({"Xvfb", "dbus-daemon", "xfce4-panel", "xwininfo", "xdotool"})) {
        return;
    }
    // Xvfb picks a free display and tells its number.
    QProcess* server = startHelper(
        "xvfb", "Xvfb",
        {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset"},
        environment_, true);
    if (!failure().isEmpty() || !pumpUntil([&] { return server->canReadLine(); }, 10000ms)) {
        fail("Xvfb did not start" + logTail("xvfb"));
        return;
    }
    x11Display_ = ":" + QString::fromUtf8(server->readLine()).trimmed();
    environment_.insert("DISPLAY", x11Display_);

    // The panel's settings come from xfconfd, which the bus starts with the
    // bus's own environment: the private configuration folder goes there.
    const QString position = edge == Edge::Top ? "p=6;x=0;y=0" : "p=8;x=0;y=0";
    const QByteArray channel = QString(R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="%1"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="%2"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
)")
                                   .arg(position)
                                   .arg(kBarSize)
                                   .toUtf8();
    const QString channelDir = "config/xfce4/xfconf/xfce-perchannel-xml";
    if (!QDir().mkpath(path(channelDir)) || !writeFile(channelDir + "/xfce4-panel.xml", channel)) {
        return;
    }
    environment_.insert("XDG_CONFIG_HOME", path("config"));
    environment_.insert("XDG_CACHE_HOME", path("cache"));
    environment_.insert("XDG_DATA_HOME", path("data"));
    environment_.insert("HOME", path("home"));
    const QString runtime = path("run");
    if (!makePrivateDir(runtime)) {
        fail("cannot make " + runtime);
        return;
    }
    environment_.insert("XDG_RUNTIME_DIR", runtime);
    environment_.insert("XDG_SESSION_TYPE", "x11");
    started_ = startBus(environment_);
}

bool XfcePanelSession::startPanel() {
    if (!running()) {
        return false;
    }
    if (panel_ != nullptr) {
        return true;
    }
    // Without a window manager the panel would wait for one for seconds.
    panel_ = startHelper("panel", "xfce4-panel", {"--disable-wm-check"}, environment_);
    if (!failure().isEmpty()) {
        return false;
    }
    if (!waitForStatusNotifierHost(15000ms)) {
        return fail("xfce4-panel's systray did not take org.kde.StatusNotifierWatcher" +
                    logTail("panel"));
    }
    std::optional<QRect> bar;
    pumpUntil(
        [&] {
            bar = barGeometry();
            return bar.has_value();
        },
        10000ms);
    if (!bar) {
        return fail("xfce4-panel's bar never showed" + logTail("panel"));
    }
    return true;
}

std::optional<QRect> XfcePanelSession::barGeometry() const {
    QProcess xdotool;
    xdotool.setProcessEnvironment(environment_);
    xdotool.start("xdotool", {"search", "--onlyvisible", "--classname", "xfce4-panel"});
    xdotool.waitForFinished(5000);
    const QStringList ids =
        QString::fromUtf8(xdotool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    for (const QString& id : ids) {
        const auto rect = windowGeometry(id);
        // The bar spans the screen; the panel's other windows are small.
        if (rect && rect->width() == screen().width() && rect->height() >= kBarSize) {
            const bool atEdge =
                edge_ == Edge::Top ? rect->top() == 0 : rect->bottom() == screen().bottom();
            if (atEdge) {
                return rect;
            }
        }
    }
    return std::nullopt;
}

std::optional<QRect> PrivateSession::windowGeometry(const QString& id) const {
    QProcess xdotool;
    xdotool.setProcessEnvironment(environment_);
    xdotool.start("xdotool", {"getwindowgeometry", "--shell", id});
    xdotool.waitForFinished(5000);
    QMap<QString, int> value;
    for (const QString& line : QString::fromUtf8(xdotool.readAllStandardOutput()).split('\n')) {
        value[line.section('=', 0, 0)] = line.section('=', 1).toInt();
    }
    if (!value.contains("WIDTH") || value["WIDTH"] <= 0) {
        return std::nullopt;
    }
    return QRect(value["X"], value["Y"], value["WIDTH"], value["HEIGHT"]);
}

}  // namespace brimlet::testing
