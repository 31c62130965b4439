// Pasting where the user was: the time from Shift+Return on the panel's
// first row to the picked text being in the text field of the program that
// had the focus (tests/e2e/paste_target.cpp); the median and worst of 50
// picks, on Xvfb with xfwm4 and trayer (XTEST) and under headless sway with
// the field a Wayland window (virtual keyboard). The time includes starting
// xdotool, which presses the keys, a few milliseconds. Every desktop here is
// private (tests/support/desktop.h).
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QProcess>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "support/desktop.h"

namespace brimlet {
namespace {

using namespace std::chrono_literals;
using bench::percentile;
using bench::pumpUntil;
using bench::runEventLoopFor;
using testing::Desktop;

constexpr int kPicks = 50;

// The field's text as the program last told it.
class Field {
  public:
    Field(const Desktop& desktop, bool wayland) {
        QProcessEnvironment env = desktop.environment();
        if (wayland) {
            env.insert("QT_QPA_PLATFORM", "wayland");
        }
        process_.setProcessEnvironment(env);
        process_.start(PASTE_TARGET_BINARY);
    }
    ~Field() {
        process_.kill();
        process_.waitForFinished(2000);
    }
    Field(const Field&) = delete;
    Field& operator=(const Field&) = delete;

    const QByteArray& text() {
        while (process_.canReadLine()) {
            const QByteArray line = process_.readLine().trimmed();
            if (line.startsWith("text ")) {
                text_ = QByteArray::fromHex(line.mid(5));
            } else if (line.startsWith("focus ")) {
                focused_ = line == "focus in";
            }
        }
        return text_;
    }
    bool focused() {
        text();
        return focused_;
    }

  private:
    QProcess process_;
    QByteArray text_;
    bool focused_ = false;
};

// The panel, an X window on both desktops (XWayland under sway).
bool panelShown(const Desktop& desktop) {
    const auto windows = desktop.windows("brimlet");
    return std::any_of(windows.begin(), windows.end(),
                       [](const QRect& window) { return window.width() == 340; });
}

void measurePicks(benchmark::State& state, Desktop& desktop, bool wayland) {
    QProcess app;
    app.setProcessEnvironment(desktop.environment());
    app.start(BRIMLET_BINARY);
    runEventLoopFor(1500ms);
    Field field(desktop, wayland);
    if (!pumpUntil([&] { return field.focused(); }, 10s)) {
        state.SkipWithError("the field did not get the focus");
        return;
    }
    std::vector<double> ms;
    for (auto _ : state) {
        for (int i = 0; i < kPicks; ++i) {
            const QByteArray text = "pasted " + QByteArray::number(i) + " ✓";
            desktop.copy(text);
            runEventLoopFor(700ms);  // one poll and a little
            desktop.run(BRIMLET_BINARY, {});
            if (!pumpUntil([&] { return panelShown(desktop); }, 5s)) {
                state.SkipWithError("the panel did not open within 5 s");
                break;
            }
            desktop.key("Down");
            const auto start = std::chrono::steady_clock::now();
            desktop.key("shift+Return");
            if (!pumpUntil([&] { return field.text().endsWith(text); }, 5s)) {
                std::fprintf(stderr, "pick %d: the field holds \"%s\"\n", i,
                             field.text().right(40).constData());
                state.SkipWithError("a pick did not reach the field within 5 s");
                break;
            }
            ms.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
            runEventLoopFor(200ms);
        }
        state.SetIterationTime(percentile(ms, 0.5) / 1e3);
    }
    state.counters["picks"] = static_cast<double>(ms.size());
    state.counters["median_ms"] = percentile(ms, 0.5);
    state.counters["worst_ms"] = ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end());
    app.kill();
    app.waitForFinished(2000);
}

void BM_ShiftReturnToField_XvfbXfwm4(benchmark::State& state) {
    Desktop desktop(Desktop::Kind::Trayer);
    if (!desktop.startWindowManager() || !desktop.startTray()) {
        state.SkipWithError(desktop.failure().toLocal8Bit().constData());
        return;
    }
    measurePicks(state, desktop, false);
}
BENCHMARK(BM_ShiftReturnToField_XvfbXfwm4)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_ShiftReturnToField_Sway(benchmark::State& state) {
    Desktop desktop(Desktop::Kind::Sway);
    if (!desktop.startTray()) {
        state.SkipWithError(desktop.failure().toLocal8Bit().constData());
        return;
    }
    measurePicks(state, desktop, true);
}
BENCHMARK(BM_ShiftReturnToField_Sway)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace brimlet

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("DISPLAY");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const QCoreApplication app(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
