// Brimlet on a Wayland desktop, beside X11:
//  - copy to entry: how long a copy takes to reach the top of the history,
//    made with wl-copy under headless sway (the data-control adapter) and
//    with xclip under Xvfb (the X11 adapter); the median, p90 and worst of
//    100 copies made at random points of the half-second poll;
//  - idle: wakeups per second (context switches of all its threads) and
//    resident memory of the running application under sway with waybar,
//    beside a bare Qt tray program in the same session.
// Every desktop here is private (tests/support/desktop.h).
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench_processes.h"
#include "bench_support.h"
#include "history/clip_store.h"
#include "platform/qt/qt_scheduling.h"
#include "platform/wayland/wayland_pasteboard.h"
#include "platform/x11/x11_pasteboard.h"
#include "support/desktop.h"

namespace brimlet {
namespace {

using namespace std::chrono_literals;
using bench::Clock;
using bench::percentile;
using bench::procField;
using bench::pumpUntil;
using bench::runEventLoopFor;

constexpr int kCopies = 100;
constexpr int kLongestGapMs = 500;  // one poll period
constexpr auto kSettle = 5s;
constexpr auto kIdleWindow = 10s;

// The desktops, started once for the whole run.
struct Desktops {
    std::unique_ptr<testing::Desktop> sway;
    std::vector<std::string> swayEnvironment;
    std::unique_ptr<bench::XServer> xvfb;
    std::vector<std::string> xvfbEnvironment;
};
Desktops* gDesktops = nullptr;

std::vector<std::string> toEnvironment(const QProcessEnvironment& env) {
    std::vector<std::string> out;
    for (const QString& entry : env.toStringList()) {
        out.push_back(entry.toStdString());
    }
    return out;
}

// Copies kCopies texts with `copier` (a program reading the text on its
// standard input and serving it until the next copy) into a store on `board`.
void measureCopies(benchmark::State& state, platform::Pasteboard& board,
                   const std::vector<std::string>& copier,
                   const std::vector<std::string>& environment) {
    // Poll timers belong to the application and outlive each store.
    static platform::QtTimerScheduler timers;
    static platform::QtMainExecutor executor;
    const auto store = ClipStore::make({
        .generalPasteboard = [&board]() -> platform::Pasteboard& { return board; },
        .timers = &timers,
        .mainExecutor = &executor,
    });
    store->start();
    runEventLoopFor(1s);
    std::mt19937 random(20240601);
    std::uniform_int_distribution<int> gap(0, kLongestGapMs);
    std::vector<double> ms;
    std::vector<pid_t> copiers;
    const auto& items = store->items();
    for (auto _ : state) {
        for (int i = 0; i < kCopies; ++i) {
            const std::string text = "copy " + std::to_string(i) + " at " +
                                     std::to_string(Clock::now().time_since_epoch().count());
            const Clock::time_point start = Clock::now();
            const bench::Spawned program =
                bench::spawn(copier, {.pipeStdin = true, .environment = &environment});
            if (program.pid <= 0) {
                state.SkipWithError("cannot start the copying program");
                break;
            }
            copiers.push_back(program.pid);
            bench::writeAll(program.stdinFd, text);
            close(program.stdinFd);
            if (!pumpUntil([&] { return !items.empty() && items.front().text.bytes() == text; },
                           5s)) {
                state.SkipWithError("a copy did not reach the history within 5 s");
                break;
            }
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            copiers.erase(std::remove_if(copiers.begin(), copiers.end(), bench::reaped),
                          copiers.end());
            runEventLoopFor(std::chrono::milliseconds(gap(random)));
        }
        state.SetIterationTime(percentile(ms, 0.5) / 1e3);
    }
    for (const pid_t pid : copiers) {
        bench::stop(pid);
    }
    state.counters["copies"] = static_cast<double>(ms.size());
    state.counters["median_ms"] = percentile(ms, 0.5);
    state.counters["p90_ms"] = percentile(ms, 0.9);
    state.counters["worst_ms"] = ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end());
}

void BM_CopyToEntry_WlCopyUnderSway(benchmark::State& state) {
    const auto board =
        platform::openWaylandPasteboard(gDesktops->sway->waylandSocket().toLocal8Bit().constData());
    if (board == nullptr) {
        state.SkipWithError("the compositor offers no data-control protocol");
        return;
    }
    measureCopies(state, *board, {"wl-copy", "--foreground"}, gDesktops->swayEnvironment);
}
BENCHMARK(BM_CopyToEntry_WlCopyUnderSway)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_CopyToEntry_XclipUnderXvfb(benchmark::State& state) {
    const auto board = platform::openX11Pasteboard(gDesktops->xvfb->display().c_str());
    if (board == nullptr) {
        state.SkipWithError("cannot reach the private Xvfb");
        return;
    }
    measureCopies(state, *board, {"xclip", "-selection", "clipboard", "-quiet"},
                  gDesktops->xvfbEnvironment);
}
BENCHMARK(BM_CopyToEntry_XclipUnderXvfb)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Context switches of every thread of `pid`: each is one wakeup.
long contextSwitches(pid_t pid) {
    long total = 0;
    const QString tasks = QString("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const std::string status = (tasks + "/" + task + "/status").toStdString();
        total += procField(status, "voluntary_ctxt_switches:").value_or(0) +
                 procField(status, "nonvoluntary_ctxt_switches:").value_or(0);
    }
    return total;
}

void measureIdle(benchmark::State& state, const std::vector<std::string>& program,
                 const std::vector<std::string>& environment) {
    const pid_t pid = bench::spawn(program, {.environment = &environment}).pid;
    if (pid <= 0) {
        state.SkipWithError("cannot start the program");
        return;
    }
    runEventLoopFor(kSettle);
    if (bench::reaped(pid)) {
        state.SkipWithError("the program ended by itself");
        return;
    }
    double wakeups = 0;
    for (auto _ : state) {
        const long before = contextSwitches(pid);
        runEventLoopFor(kIdleWindow);
        wakeups = static_cast<double>(contextSwitches(pid) - before) /
                  std::chrono::duration<double>(kIdleWindow).count();
        state.SetIterationTime(std::chrono::duration<double>(kIdleWindow).count());
    }
    const std::string proc = "/proc/" + std::to_string(pid) + "/";
    state.counters["wakeups_per_s"] = wakeups;
    state.counters["rss_kB"] =
        static_cast<double>(procField(proc + "status", "VmRSS:").value_or(0));
    state.counters["pss_kB"] =
        static_cast<double>(procField(proc + "smaps_rollup", "Pss:").value_or(0));
    bench::stop(pid);
}

// Both on XWayland, as Brimlet's widgets are by default in a Wayland session.
std::vector<std::string> idleEnvironment() {
    QProcessEnvironment env = gDesktops->sway->environment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    return toEnvironment(env);
}

void BM_Idle_BrimletUnderSway(benchmark::State& state) {
    measureIdle(state, {BRIMLET_BINARY}, idleEnvironment());
}
BENCHMARK(BM_Idle_BrimletUnderSway)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_Idle_BareQtTrayUnderSway(benchmark::State& state) {
    measureIdle(state, {BRIMLET_TRAY_ONLY}, idleEnvironment());
}
BENCHMARK(BM_Idle_BareQtTrayUnderSway)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace brimlet

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    // A copying program that quits while we write to it must not end us.
    std::signal(SIGPIPE, SIG_IGN);
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("DISPLAY");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const QCoreApplication app(argc, argv);

    brimlet::Desktops desktops;
    desktops.sway =
        std::make_unique<brimlet::testing::Desktop>(brimlet::testing::Desktop::Kind::Sway);
    if (!desktops.sway->startTray()) {
        std::fprintf(stderr, "bench_desktops: no sway session: %s\n",
                     desktops.sway->failure().toLocal8Bit().constData());
        return 1;
    }
    desktops.swayEnvironment = brimlet::toEnvironment(desktops.sway->environment());
    desktops.xvfb = std::make_unique<brimlet::bench::XServer>();
    if (desktops.xvfb->display().empty()) {
        std::fputs("bench_desktops: Xvfb did not start\n", stderr);
        return 1;
    }
    desktops.xvfbEnvironment = brimlet::bench::environmentWith(
        {{"DISPLAY", desktops.xvfb->display()}, {"WAYLAND_DISPLAY", std::nullopt}});

    brimlet::gDesktops = &desktops;
    benchmark::RunSpecifiedBenchmarks();
    brimlet::gDesktops = nullptr;
    benchmark::Shutdown();
    return 0;
}
