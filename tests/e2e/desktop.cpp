#include "e2e/desktop.h"

#include <QCoreApplication>
#include <QMap>
#include <QThread>
#include <algorithm>
#include <climits>

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
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus_.address());
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    env.insert("LANG", "C.UTF-8");
    env.remove("LANGUAGE");
    env.remove("LC_ALL");
    process_.setProcessEnvironment(env);
    process_.start(QStringLiteral(BRIMLET_BINARY), arguments);
    if (!process_.waitForStarted(5000)) {
        return false;
    }
    a11y_ = std::make_unique<A11yClient>(bus_.address());
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
