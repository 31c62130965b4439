// Brimlet as a program of a test desktop, seen as a person and a tray see
// it: its widgets as a screen reader reads them (AT-SPI, on the desktop's
// accessibility bus) and its StatusNotifier item as a tray host drives it.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "support/desktop.h"
#include "support/event_loop.h"

namespace brimlet::e2e {

using namespace std::chrono_literals;
using testing::Desktop;
using testing::pumpFor;
using testing::pumpUntil;

struct A11yNode {
    QString role;  // e.g. "push button", "label"
    QString name;
    QRect extents;  // on the screen
    bool showing = true;
    std::vector<A11yNode> children{};

    [[nodiscard]] std::vector<const A11yNode*> findAll(const QString& role) const;
    [[nodiscard]] std::string describe(int depth = 0) const;  // for failure messages
};

// The panel's entries top to bottom.
std::vector<const A11yNode*> rows(const A11yNode& panel);
// The visible labels of a panel; none when it is closed.
QStringList labels(const std::optional<A11yNode>& panel);
QRect panelWindow(const A11yNode& panel);
// The panel is on the screen, near the icon and off the bar.
::testing::AssertionResult besideIcon(const QRect& panel, const QRect& icon, const QRect& bar);

class Brimlet {
  public:
    // Started in `desktop` as its session would start it, with `environment`
    // ("NAME=value") added.
    explicit Brimlet(const Desktop& desktop, const QStringList& environment = {});
    ~Brimlet();
    Brimlet(const Brimlet&) = delete;
    Brimlet& operator=(const Brimlet&) = delete;

    [[nodiscard]] QProcess& process() { return process_; }
    [[nodiscard]] const QByteArray& standardError() {
        return stderr_ += process_.readAllStandardError();
    }
    // The docked XEmbed icon on the screen.
    std::optional<QRect> waitForTrayIcon();
    // The open panel, or nothing while it is closed.
    [[nodiscard]] std::optional<A11yNode> panel() const;
    std::optional<A11yNode> waitForPanel(const std::function<bool(const A11yNode&)>& ready =
                                             [](const A11yNode&) { return true; }) const;
    // The open panel once it lists exactly `texts`.
    [[nodiscard]] std::optional<A11yNode> waitForRows(const QStringList& texts) const;
    bool waitForPanelClosed() const {
        return pumpUntil([&] { return !panel(); }, 5s);
    }
    // True once it has ended by itself with status 0.
    bool waitForExit();
    [[nodiscard]] std::string describe() const;

  private:
    const Desktop& desktop_;
    QProcess process_;
    QString a11yBus_;
    QByteArray stderr_;
};

// Brimlet's item as the desktop's StatusNotifier host sees it.
struct TrayItem {
    // Once the process `pid` has registered one with the watcher.
    static std::optional<TrayItem> waitFor(const Desktop& desktop, qint64 pid);

    // What a host does on a click; `at` is whatever the host passes.
    bool activate(QPoint at) const;
    // One of the item's properties, e.g. "Title".
    [[nodiscard]] QString text(const QString& name) const;
    // The menu's top-level entries as a host shows them: visible ones, no
    // separators, no mnemonic marks.
    [[nodiscard]] QStringList menu() const;
    bool choose(const QString& entry) const;

    QDBusConnection bus;
    QString service;
    QString path;
};

// A program of the desktop with a multi-line text field that has the focus
// (paste_target.cpp): what its field holds and whether it has the focus.
class PasteTarget {
  public:
    explicit PasteTarget(const Desktop& desktop, const QStringList& platform = {});
    ~PasteTarget();
    PasteTarget(const PasteTarget&) = delete;
    PasteTarget& operator=(const PasteTarget&) = delete;

    [[nodiscard]] QByteArray text();
    [[nodiscard]] bool focused();
    bool waitForFocus(bool in = true) {
        return pumpUntil([&] { return focused() == in; }, 10s);
    }
    void close() {
        process_.kill();
        process_.waitForFinished(2000);
    }

  private:
    void read();

    QProcess process_;
    QByteArray text_;
    bool focused_ = false;
};

// A test in a desktop of its own; skipped when that desktop cannot start.
class DesktopTest : public ::testing::Test {
  protected:
    explicit DesktopTest(Desktop::Kind kind, Desktop::Edge edge = Desktop::Edge::Top)
        : desktop(kind, edge) {}
    void SetUp() override {
        if (!desktop.running()) {
            GTEST_SKIP() << "no private desktop: " << desktop.failure().toStdString();
        }
    }
    // Waits for Brimlet to say that it found no tray.
    static bool saysNoTray(Brimlet& app) {
        return pumpUntil([&] { return app.standardError().contains("no system tray"); }, 10s);
    }
    static QString output(const QString& file) {
        return QStringLiteral(BRIMLET_E2E_OUTPUT_DIR "/") + file;
    }

    Desktop desktop;
};

}  // namespace brimlet::e2e
