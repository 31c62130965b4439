// The pieces of a desktop session that end-to-end tests drive: a private
// session bus, Brimlet itself as a separate process, the pointer and keyboard
// (xdotool) and the clipboard (xclip).
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "e2e/a11y_client.h"
#include "support/event_loop.h"

namespace brimlet::e2e {

using namespace std::chrono_literals;

// Ends a helper program politely, then firmly.
inline void stop(QProcess& process) {
    process.terminate();
    if (!process.waitForFinished(2000)) {
        process.kill();
        process.waitForFinished(1000);
    }
}

// A D-Bus session bus of our own, so that the accessibility bus it starts
// belongs to this test alone.
class SessionBus {
  public:
    SessionBus();
    ~SessionBus() { stop(daemon_); }

    [[nodiscard]] const QString& address() const { return address_; }

  private:
    QProcess daemon_;
    QString address_;
};

// Runs a helper program to completion while our event loop keeps going.
inline QByteArray run(const QString& program, const QStringList& arguments,
                      const QByteArray& input = {}, std::chrono::milliseconds timeout = 10s) {
    return testing::runPumping(program, arguments, input, timeout);
}

void click(QPoint screenPoint);
void typeText(const QString& text);
void pressKey(const QString& keys);  // e.g. "Escape", "ctrl+q"
inline void copyWithXclip(const QByteArray& text) {
    testing::xclipCopy(text);
}
inline QByteArray pasteWithXclip() {
    return testing::xclipPaste();
}

// Waits, running the event loop, until `done` holds.
inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s) {
    return testing::pumpUntil(done, timeout);
}

// Lets the event loop run for `duration`, e.g. for a poll to come round.
inline void pauseFor(std::chrono::milliseconds duration) {
    testing::pumpFor(duration);
}

class BrimletProcess {
  public:
    // On the shared test display, with Qt's X11 platform.
    explicit BrimletProcess(const SessionBus& bus) : busAddress_(bus.address()) {}
    // In a desktop of its own (testing::PrivateSession), started with that
    // desktop's environment as a session would start it.
    BrimletProcess(QString busAddress, QProcessEnvironment environment)
        : busAddress_(std::move(busAddress)), environment_(std::move(environment)) {}
    ~BrimletProcess() {
        process_.kill();
        process_.waitForFinished(2000);
    }

    bool start(const QStringList& arguments = {});
    // Starts Brimlet and waits until its icon has docked and polling runs
    // (it starts once launching is done, a moment after the icon docks).
    bool startPolling() {
        if (!start() || !waitForTrayIcon()) {
            return false;
        }
        pauseFor(700ms);
        return true;
    }
    // The tray icon's rectangle on screen once it has docked.
    std::optional<QRect> waitForTrayIcon(std::chrono::milliseconds timeout = 10s);
    void clickTrayIcon() {
        if (const auto icon = waitForTrayIcon()) {
            click(icon->center());
        }
    }

    // The application's whole accessibility tree, for failure messages.
    [[nodiscard]] std::string describe() const {
        const auto app = a11y_ ? a11y_->application("brimlet") : std::nullopt;
        return app ? app->describe() : std::string("(not on the accessibility bus)");
    }
    // The open panel's accessibility tree, or nothing while it is closed.
    [[nodiscard]] std::optional<A11yNode> panel() const;
    std::optional<A11yNode> waitForPanel(const std::function<bool(const A11yNode&)>& ready,
                                         std::chrono::milliseconds timeout = 5s);
    bool waitForPanelClosed(std::chrono::milliseconds timeout = 5s) {
        return waitFor([&] { return !panel(); }, timeout);
    }

    // Ends the process; true when it exited by itself with status 0.
    bool waitForExit(std::chrono::milliseconds timeout = 5s);
    [[nodiscard]] QProcess& process() { return process_; }
    [[nodiscard]] QByteArray standardError() { return stderr_ += process_.readAllStandardError(); }

  private:
    QString busAddress_;
    std::optional<QProcessEnvironment> environment_;
    QProcess process_;
    std::unique_ptr<A11yClient> a11y_;
    QByteArray stderr_;
};

// An X server of this test's own, for what the shared test display cannot
// show: a desktop without a tray host, and one that starts later. Ends
// everything it started.
class PrivateDisplay {
  public:
    PrivateDisplay();
    ~PrivateDisplay() {
        stop(trayHost_);
        stop(server_);
    }

    // ":N" once the server runs; empty if it did not start.
    [[nodiscard]] const QString& name() const { return name_; }
    bool startTrayHost();

  private:
    QProcess server_;
    QProcess trayHost_;
    QString name_;
};

// Points this process, and the programs it starts from now on (Brimlet,
// xdotool, xclip), at another display while it lives.
class UseDisplay {
  public:
    explicit UseDisplay(const QString& display) : previous_(qgetenv("DISPLAY")) {
        qputenv("DISPLAY", display.toUtf8());
    }
    ~UseDisplay() { qputenv("DISPLAY", previous_); }
    UseDisplay(const UseDisplay&) = delete;
    UseDisplay& operator=(const UseDisplay&) = delete;

  private:
    QByteArray previous_;
};

// Points this process, and the programs it starts from now on (xdotool,
// xclip, wl-copy, wl-paste), at another session's displays while it lives.
class UseEnvironment {
  public:
    explicit UseEnvironment(const QProcessEnvironment& session);
    ~UseEnvironment();
    UseEnvironment(const UseEnvironment&) = delete;
    UseEnvironment& operator=(const UseEnvironment&) = delete;

  private:
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> previous_;
};

// Skips unless the private test display with a tray host is there.
class EndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override;
    // Copies half a second apart, so that each one is seen by a poll.
    static void copyAndSettle(const QByteArray& text);
};

// The rows of the panel, top to bottom, and their accessible names.
std::vector<const A11yNode*> rows(const A11yNode& panel);
QStringList rowTexts(const A11yNode& panel);
// The visible label texts of the panel.
QStringList labels(const A11yNode& panel);
// The panel window's rectangle on screen.
QRect panelWindow(const A11yNode& panel);

// Where pixels of about `colour` (0xRRGGBB) are in `area` of the current
// display's screen: their bounding box, or nothing when fewer than
// `atLeast` match. Finds an icon without asking its program.
std::optional<QRect> findColour(const QRect& area, unsigned colour, int atLeast = 12);
// The paperclip's stroke colour (resources/paperclip.svg).
constexpr unsigned kPaperclipColour = 0x56708c;

// The gap between two rectangles; 0 when they touch or overlap.
int distance(const QRect& a, const QRect& b);

}  // namespace brimlet::e2e
