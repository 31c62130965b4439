#include "e2e/desktop.h"

#include <QCoreApplication>
#include <QMap>
#include <QThread>
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace brimlet::e2e {

void EndToEndTest::SetUp() {
    if (qEnvironmentVariableIsEmpty("BRIMLET_TEST_DISPLAY")) {
        GTEST_SKIP() << "needs the private test display with a tray host (tools/test-all)";
    }
}

void EndToEndTest::copyAndSettle(const QByteArray& text) {
    copyWithXclip(text);
    pauseFor(700ms);
}

void click(QPoint p) {
    run("xdotool", {"mousemove", QString::number(p.x()), QString::number(p.y())});
    QThread::msleep(50);
    run("xdotool", {"click", "1"});
}

void typeText(const QString& text) {
    run("xdotool", {"type", "--delay", "20", text});
}

void pressKey(const QString& keys) {
    run("xdotool", {"key", keys});
}

SessionBus::SessionBus() {
    daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    daemon_.waitForStarted(5000);
    waitFor([&] { return daemon_.canReadLine(); }, 5s);
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
}

PrivateDisplay::PrivateDisplay() {
    // Xvfb picks a free display and tells its number on the given descriptor.
    server_.start(
        "Xvfb", {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset"});
    if (!server_.waitForStarted(5000)) {
        return;
    }
    waitFor([&] { return server_.canReadLine() || server_.state() == QProcess::NotRunning; }, 10s);
    const QString number = QString::fromUtf8(server_.readLine()).trimmed();
    if (!number.isEmpty()) {
        name_ = ":" + number;
    }
}

bool PrivateDisplay::startTrayHost() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", name_);
    trayHost_.setProcessEnvironment(env);
    trayHost_.start(
        "trayer", {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24",
                   "--SetDockType", "true", "--transparent", "false"});
    return trayHost_.waitForStarted(5000);
}

bool BrimletProcess::start(const QStringList& arguments) {
    QProcessEnvironment env;
    if (environment_) {
        env = *environment_;
    } else {
        env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "xcb");
    }
    env.insert("DBUS_SESSION_BUS_ADDRESS", busAddress_);
    env.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    env.insert("LANG", "C.UTF-8");
    env.remove("LANGUAGE");
    env.remove("LC_ALL");
    process_.setProcessEnvironment(env);
    process_.start(QStringLiteral(BRIMLET_BINARY), arguments);
    if (!process_.waitForStarted(5000)) {
        return false;
    }
    a11y_ = std::make_unique<A11yClient>(busAddress_);
    return true;
}

std::optional<QRect> BrimletProcess::waitForTrayIcon(std::chrono::milliseconds timeout) {
    std::optional<QRect> icon;
    waitFor(
        [&] {
            const QString ids = QString::fromUtf8(
                run("xdotool", {"search", "--onlyvisible", "--classname", "brimlet"}));
            for (const QString& id : ids.split('\n', Qt::SkipEmptyParts)) {
                const QString shell =
                    QString::fromUtf8(run("xdotool", {"getwindowgeometry", "--shell", id}));
                QMap<QString, int> value;
                for (const QString& line : shell.split('\n')) {
                    value[line.section('=', 0, 0)] = line.section('=', 1).toInt();
                }
                const QRect rect(value["X"], value["Y"], value["WIDTH"], value["HEIGHT"]);
                // The docked icon is small; the panel, when open, is not.
                if (rect.width() > 0 && rect.width() <= 64 && rect.height() <= 64) {
                    icon = rect;
                    return true;
                }
            }
            return false;
        },
        timeout);
    return icon;
}

std::optional<A11yNode> BrimletProcess::panel() const {
    if (!a11y_) {
        return std::nullopt;
    }
    auto app = a11y_->application("brimlet");
    if (!app || app->find("push button", "Quit") == nullptr) {
        return std::nullopt;
    }
    return app;
}

std::optional<A11yNode> BrimletProcess::waitForPanel(
    const std::function<bool(const A11yNode&)>& ready, std::chrono::milliseconds timeout) {
    std::optional<A11yNode> found;
    waitFor(
        [&] {
            found = panel();
            return found && ready(*found);
        },
        timeout);
    return found && ready(*found) ? found : std::nullopt;
}

bool BrimletProcess::waitForExit(std::chrono::milliseconds timeout) {
    waitFor([&] { return process_.state() == QProcess::NotRunning; }, timeout);
    return process_.state() == QProcess::NotRunning &&
           process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
}

namespace {
// What a program needs to find a session's displays and bus.
constexpr std::array<const char*, 4> kSessionVariables = {
    "DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"};
}  // namespace

UseEnvironment::UseEnvironment(const QProcessEnvironment& session) {
    for (const char* name : kSessionVariables) {
        previous_.emplace_back(name, qEnvironmentVariableIsSet(name)
                                         ? std::optional<QByteArray>(qgetenv(name))
                                         : std::nullopt);
        if (session.contains(name)) {
            qputenv(name, session.value(name).toUtf8());
        } else {
            qunsetenv(name);
        }
    }
}

UseEnvironment::~UseEnvironment() {
    for (const auto& [name, value] : previous_) {
        if (value) {
            qputenv(name.constData(), *value);
        } else {
            qunsetenv(name.constData());
        }
    }
}

QRect panelWindow(const A11yNode& panel) {
    QRect window;
    for (const auto& child : panel.children) {
        window = window.united(child.extents);
    }
    return window;
}

std::optional<QRect> findColour(const QRect& area, unsigned colour, int atLeast) {
    const QString crop =
        QString("%1x%2+%3+%4").arg(area.width()).arg(area.height()).arg(area.x()).arg(area.y());
    const QByteArray ppm =
        run("import", {"-window", "root", "-crop", crop, "-depth", "8", "ppm:-"});
    // A binary PPM: "P6", width, height, maximum value, then RGB triples.
    const QList<QByteArray> header = ppm.left(64).split('\n');
    if (header.size() < 4 || header[0] != "P6" || header[2] != "255") {
        return std::nullopt;
    }
    const QList<QByteArray> size = header[1].split(' ');
    const int width = size.value(0).toInt();
    const int height = size.value(1).toInt();
    const auto offset = header[0].size() + header[1].size() + header[2].size() + 3;
    if (width <= 0 || height <= 0 || ppm.size() < offset + qsizetype{3} * width * height) {
        return std::nullopt;
    }
    const auto* pixels = reinterpret_cast<const unsigned char*>(ppm.constData() + offset);
    const int red = static_cast<int>((colour >> 16) & 0xff);
    const int green = static_cast<int>((colour >> 8) & 0xff);
    const int blue = static_cast<int>(colour & 0xff);
    constexpr int kTolerance = 30;  // the edges of a stroke blend into the bar
    QRect found;
    int count = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned char* p = pixels + 3 * (static_cast<qsizetype>(y) * width + x);
            if (std::abs(p[0] - red) + std::abs(p[1] - green) + std::abs(p[2] - blue) <=
                kTolerance) {
                found = found.united(QRect(area.x() + x, area.y() + y, 1, 1));
                ++count;
            }
        }
    }
    return count >= atLeast ? std::optional<QRect>(found) : std::nullopt;
}

int distance(const QRect& a, const QRect& b) {
    const int dx = std::max({0, b.left() - a.right() - 1, a.left() - b.right() - 1});
    const int dy = std::max({0, b.top() - a.bottom() - 1, a.top() - b.bottom() - 1});
    return static_cast<int>(std::lround(std::hypot(dx, dy)));
}

std::vector<const A11yNode*> rows(const A11yNode& panel) {
    // The entries are the buttons above the divider line; the footer's are
    // below it.
    int divider = INT_MAX;
    for (const A11yNode* frame : panel.findAll("frame")) {
        if (frame->extents.height() <= 3 && frame->extents.width() > 100) {
            divider = std::min(divider, frame->extents.top());
        }
    }
    std::vector<const A11yNode*> out;
    for (const A11yNode* button : panel.findAll("push button")) {
        if (button->showing && button->extents.bottom() < divider) {
            out.push_back(button);
        }
    }
    // Reused rows keep their place among the widgets; the screen order counts.
    std::stable_sort(out.begin(), out.end(), [](const A11yNode* a, const A11yNode* b) {
        return a->extents.top() < b->extents.top();
    });
    return out;
}

QStringList rowTexts(const A11yNode& panel) {
    QStringList out;
    for (const A11yNode* row : rows(panel)) {
        out << row->name;
    }
    return out;
}

QStringList labels(const A11yNode& panel) {
    QStringList out;
    for (const A11yNode* label : panel.findAll("label")) {
        if (label->showing) {
            out << label->name;
        }
    }
    return out;
}

}  // namespace brimlet::e2e
