// The history on the real X11 clipboard, with the real timers and GUI-thread
// queue, polling every half second:
//  - how long an event posted to the GUI thread waits for delivery, with no
//    clipboard traffic and while hung owners keep taking the clipboard (the
//    adapter reads on its own thread, so the two should look alike);
//  - how long a copy made with xclip takes to reach the top of the history,
//    next to the poll period that bounds it;
//  - the same for a copy made right after a storm of 2000 changes of owner,
//    with and without text;
//  - under a flood of 13 texts a second for 30 s, how long each copy waits
//    until the history shows it or a newer one;
//  - how long GUI events wait while five letters under 90,000 marks each and
//    then a plain text are copied, beside the quiet figures.
// Runs on a private Xvfb, or on BRIMLET_TEST_DISPLAY when that is set.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_processes.h"
#include "bench_support.h"
#include "history/clip_store.h"
#include "platform/qt/qt_scheduling.h"
#include "platform/x11/x11_pasteboard.h"

namespace brimlet {
namespace {

using namespace std::chrono_literals;
using bench::Clock;
using bench::percentile;
using bench::procField;
using bench::pumpUntil;
using bench::runEventLoopFor;

constexpr auto kQuietPhase = 5s;
constexpr auto kHungPhase = 10s;
constexpr auto kOwnerRestartPeriod = 1s;
constexpr auto kProbeInterval = 1ms;
constexpr int kCopies = 100;
// 13 copies a second.
constexpr std::chrono::milliseconds kFloodApart{77};

// The store reads the text only after the counter moved, so counting those
// reads counts the changes the store saw.
class CountingPasteboard final : public platform::Pasteboard {
  public:
    explicit CountingPasteboard(platform::Pasteboard& inner) : inner_(inner) {}
    [[nodiscard]] std::int64_t changeCount() const override { return inner_.changeCount(); }
    [[nodiscard]] std::optional<platform::Text> string() const override {
        ++textReads;
        return inner_.string();
    }
    std::int64_t clearContents() override { return inner_.clearContents(); }
    bool setString(const platform::Text& text) override { return inner_.setString(text); }

    mutable long textReads = 0;

  private:
    platform::Pasteboard& inner_;
};

struct Desktop {
    std::unique_ptr<platform::WorkerPasteboard> board;
    std::unique_ptr<CountingPasteboard> counting;
    platform::QtTimerScheduler timers;
    platform::QtMainExecutor executor;
    std::shared_ptr<ClipStore> store;
};
Desktop* gDesktop = nullptr;

// CPU time of the calling thread.
double threadCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Records, on the GUI thread, how long each probe event waited.
class LatencyProbe final : public QObject {
  public:
    static QEvent::Type probeType() {
        static const auto registered = static_cast<QEvent::Type>(QEvent::registerEventType());
        return registered;
    }
    class Event final : public QEvent {
      public:
        Event() : QEvent(probeType()), posted(Clock::now()) {}
        Clock::time_point posted;
    };

    std::vector<double> micros;

  protected:
    void customEvent(QEvent* event) override {
        if (event->type() == probeType()) {
            const auto waited = Clock::now() - static_cast<Event*>(event)->posted;
            micros.push_back(std::chrono::duration<double, std::micro>(waited).count());
        }
    }
};

// Posts probes from a thread of its own at a steady rate, so that a stall of
// the GUI thread shows up in the probe posted just before or during it.
class ProbePoster {
  public:
    explicit ProbePoster(QObject* target)
        : thread_([this, target] {
              while (!stop_) {
                  QCoreApplication::postEvent(target, new LatencyProbe::Event);
                  std::this_thread::sleep_for(kProbeInterval);
              }
          }) {}
    ~ProbePoster() {
        stop_ = true;
        thread_.join();
    }
    ProbePoster(const ProbePoster&) = delete;
    ProbePoster& operator=(const ProbePoster&) = delete;

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A hung owner takes the clipboard anew every period, so the adapter keeps
// starting reads that are never answered. Its own thread starts and ends
// them, away from the GUI thread being timed.
class HungOwners {
  public:
    HungOwners() : thread_([this] { run(); }) {}
    ~HungOwners() {
        stop_ = true;
        thread_.join();
    }
    HungOwners(const HungOwners&) = delete;
    HungOwners& operator=(const HungOwners&) = delete;

    [[nodiscard]] int takeovers() const { return takeovers_; }

  private:
    void run() {
        pid_t current = -1;
        for (int n = 0; !stop_; ++n) {
            const Clock::time_point started = Clock::now();
            const bench::Spawned owner =
                bench::spawn({BRIMLET_CLIP_OWNER, "hung", "hung owner " + std::to_string(n)},
                             {.pipeStdout = true});
            if (owner.pid > 0) {
                // It prints once it owns the clipboard.
                const bool owns = bench::readLine(owner.stdoutFd, 5s).has_value();
                close(owner.stdoutFd);
                bench::stop(current);
                current = owner.pid;
                takeovers_ += owns ? 1 : 0;
            }
            while (!stop_ && Clock::now() - started < kOwnerRestartPeriod) {
                std::this_thread::sleep_for(10ms);
            }
        }
        bench::stop(current);
    }

    std::atomic<bool> stop_{false};
    std::atomic<int> takeovers_{0};
    std::thread thread_;
};

void measureLatency(benchmark::State& state, bool hungOwners, std::chrono::milliseconds phase) {
    LatencyProbe probe;
    long changesSeen = 0;
    int takeovers = 0;
    double guiCpuMs = 0;
    for (auto _ : state) {
        const long readsBefore = gDesktop->counting->textReads;
        auto owners = hungOwners ? std::make_unique<HungOwners>() : nullptr;
        auto poster = std::make_unique<ProbePoster>(&probe);
        const double cpuBefore = threadCpuMilliseconds();
        runEventLoopFor(phase);
        guiCpuMs = threadCpuMilliseconds() - cpuBefore;
        poster.reset();
        // The last probes are delivered before anything else may block.
        QCoreApplication::sendPostedEvents(&probe, LatencyProbe::probeType());
        changesSeen = gDesktop->counting->textReads - readsBefore;
        if (owners) {
            takeovers = owners->takeovers();
            owners.reset();
        }
        state.SetIterationTime(percentile(probe.micros, 0.5) / 1e6);
    }
    if (hungOwners && takeovers == 0) {
        state.SkipWithError("the hung owner never took the clipboard");
        return;
    }
    const auto& us = probe.micros;
    state.counters["samples"] = static_cast<double>(us.size());
    state.counters["median_us"] = percentile(us, 0.5);
    state.counters["p99_us"] = percentile(us, 0.99);
    state.counters["p999_us"] = percentile(us, 0.999);
    state.counters["max_us"] = us.empty() ? 0 : *std::max_element(us.begin(), us.end());
    state.counters["mean_us"] =
        us.empty() ? 0
                   : std::accumulate(us.begin(), us.end(), 0.0) / static_cast<double>(us.size());
    // How busy the GUI thread itself was: stalls it did not spend working
    // were waits for a CPU.
    state.counters["gui_cpu_ms_per_s"] = guiCpuMs / std::chrono::duration<double>(phase).count();
    state.counters["changes_seen"] = static_cast<double>(changesSeen);
    state.counters["owner_takeovers"] = takeovers;
    state.counters["poll_period_ms"] = kPollPeriod.count() * 1000;
}

void BM_GuiEventLatency_Quiet(benchmark::State& state) {
    measureLatency(state, false, kQuietPhase);
}
BENCHMARK(BM_GuiEventLatency_Quiet)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_GuiEventLatency_HungOwner(benchmark::State& state) {
    measureLatency(state, true, kHungPhase);
}
BENCHMARK(BM_GuiEventLatency_HungOwner)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

void BM_CopyToHistory(benchmark::State& state) {
    // Reads still waiting on an owner that is gone time out first.
    runEventLoopFor(3s);
    // Copies land at random points of the poll period, as a user's do.
    std::mt19937 random(20240601);
    std::uniform_int_distribution<int> gap(0, 500);
    const std::string run =
        std::to_string(getpid()) + "." + std::to_string(Clock::now().time_since_epoch().count());
    std::vector<double> ms;
    std::vector<pid_t> xclips;
    const auto& items = gDesktop->store->items();
    for (auto _ : state) {
        for (int i = 0; i < kCopies; ++i) {
            const std::string text = "copy " + std::to_string(i) + " of run " + run;
            const Clock::time_point start = Clock::now();
            const bench::Spawned xclip =
                bench::spawn({"xclip", "-selection", "clipboard", "-quiet"}, {.pipeStdin = true});
            if (xclip.pid <= 0) {
                state.SkipWithError("cannot start xclip");
                break;
            }
            xclips.push_back(xclip.pid);
            bench::writeAll(xclip.stdinFd, text);
            close(xclip.stdinFd);
            const bool arrived =
                pumpUntil([&] { return !items.empty() && items.front().text.bytes() == text; }, 5s);
            if (!arrived) {
                state.SkipWithError("a copy did not reach the history within 5 s");
                break;
            }
            ms.push_back(millisecondsSince(start));
            // Each xclip ends when the next one takes the clipboard.
            xclips.erase(std::remove_if(xclips.begin(), xclips.end(), bench::reaped), xclips.end());
            runEventLoopFor(std::chrono::milliseconds(gap(random)));
        }
        state.SetIterationTime(percentile(ms, 0.5) / 1e3);
    }
    for (const pid_t pid : xclips) {
        bench::stop(pid);
    }
    state.counters["copies"] = static_cast<double>(ms.size());
    state.counters["median_ms"] = percentile(ms, 0.5);
    state.counters["p90_ms"] = percentile(ms, 0.9);
    state.counters["min_ms"] = ms.empty() ? 0 : *std::min_element(ms.begin(), ms.end());
    state.counters["max_ms"] = ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end());
    state.counters["poll_period_ms"] = kPollPeriod.count() * 1000;
}
BENCHMARK(BM_CopyToHistory)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Starts brimlet_clip_owner in `mode`; true once its storm is over.
bool runStorm(const std::string& mode, const std::string& count, const std::string& apart,
              pid_t& owner) {
    const bench::Spawned spawned =
        bench::spawn({BRIMLET_CLIP_OWNER, mode, count, apart}, {.pipeStdout = true});
    owner = spawned.pid;
    if (owner <= 0) {
        return false;
    }
    const bool over = pumpUntil(
        [&] {
            return bench::readLine(spawned.stdoutFd, std::chrono::milliseconds(10)).has_value();
        },
        120s);
    close(spawned.stdoutFd);
    return over;
}

void copyAfterStorm(benchmark::State& state, const std::string& mode) {
    runEventLoopFor(3s);
    const auto& items = gDesktop->store->items();
    std::vector<double> ms;
    std::vector<pid_t> others;
    for (auto _ : state) {
        for (int round = 0; round < 8; ++round) {
            pid_t owner = -1;
            if (!runStorm(mode, "2000", "0", owner)) {
                state.SkipWithError("the storm did not end");
                break;
            }
            others.push_back(owner);
            const std::string text = mode + " storm over, round " + std::to_string(round);
            const Clock::time_point start = Clock::now();
            const bench::Spawned xclip =
                bench::spawn({"xclip", "-selection", "clipboard", "-quiet"}, {.pipeStdin = true});
            others.push_back(xclip.pid);
            bench::writeAll(xclip.stdinFd, text);
            close(xclip.stdinFd);
            if (!pumpUntil([&] { return !items.empty() && items.front().text.bytes() == text; },
                           60s)) {
                state.SkipWithError("the copy after the storm did not arrive within 60 s");
                break;
            }
            ms.push_back(millisecondsSince(start));
            runEventLoopFor(3s);  // calm between rounds
        }
        state.SetIterationTime(percentile(ms, 0.5) / 1e3);
    }
    for (const pid_t pid : others) {
        bench::stop(pid);
    }
    state.counters["median_ms"] = percentile(ms, 0.5);
    state.counters["max_ms"] = ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end());
}

void BM_CopyAfterTextStorm(benchmark::State& state) {
    copyAfterStorm(state, "flood");
}
BENCHMARK(BM_CopyAfterTextStorm)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_CopyAfterFlappingStorm(benchmark::State& state) {
    copyAfterStorm(state, "flap");
}
BENCHMARK(BM_CopyAfterFlappingStorm)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_CopiesDuringAFlood(benchmark::State& state) {
    constexpr int kFloodCopies = 390;
    runEventLoopFor(3s);
    const auto& items = gDesktop->store->items();
    std::vector<double> waited;  // per copy: until it or a newer one showed
    int shown = 0;               // copies that reached the history themselves
    for (auto _ : state) {
        const Clock::time_point made = Clock::now();
        const bench::Spawned owner =
            bench::spawn({BRIMLET_CLIP_OWNER, "flood", std::to_string(kFloodCopies),
                          std::to_string(kFloodApart.count())},
                         {.pipeStdout = true});
        int covered = 0;
        std::string top;
        pumpUntil(
            [&] {
                if (!items.empty() && items.front().text.bytes() != top) {
                    top = std::string(items.front().text.bytes());
                    if (top.rfind("flood ", 0) == 0) {
                        const int n = std::stoi(top.substr(6));
                        ++shown;
                        for (; covered <= n; ++covered) {
                            const auto at = made + covered * kFloodApart;
                            waited.push_back(
                                std::chrono::duration<double, std::milli>(Clock::now() - at)
                                    .count());
                        }
                    }
                }
                return covered >= kFloodCopies;
            },
            60s);
        close(owner.stdoutFd);
        bench::stop(owner.pid);
        state.SetIterationTime(percentile(waited, 0.5) / 1e3);
    }
    state.counters["copies"] = kFloodCopies;
    state.counters["shown_themselves"] = shown;
    state.counters["median_ms"] = percentile(waited, 0.5);
    state.counters["max_ms"] = waited.empty() ? 0 : *std::max_element(waited.begin(), waited.end());
}
BENCHMARK(BM_CopiesDuringAFlood)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
// Copies `text` with xclip and runs the event loop until it heads the
// history; the xclip is left running to serve it.
bool copyWithXclip(const std::string& text, std::vector<pid_t>& xclips) {
    const bench::Spawned xclip =
        bench::spawn({"xclip", "-selection", "clipboard", "-quiet"}, {.pipeStdin = true});
    if (xclip.pid <= 0) {
        return false;
    }
    xclips.push_back(xclip.pid);
    bench::writeAll(xclip.stdinFd, text);
    close(xclip.stdinFd);
    const auto& items = gDesktop->store->items();
    return pumpUntil([&] { return !items.empty() && items.front().text.bytes() == text; }, 10s);
}

void BM_GuiEventLatency_MarkStacksThenPlain(benchmark::State& state) {
    runEventLoopFor(1s);
    std::string marks;
    for (int i = 0; i < 30000; ++i) {
        marks += "\u0301\u0316\u0357";
    }
    LatencyProbe probe;
    std::vector<pid_t> xclips;
    double guiCpuMs = 0;
    for (auto _ : state) {
        auto poster = std::make_unique<ProbePoster>(&probe);
        const double cpuBefore = threadCpuMilliseconds();
        for (const char* letter : {"a", "b", "c", "d", "e"}) {
            if (!copyWithXclip(letter + marks, xclips)) {
                state.SkipWithError("a mark stack did not reach the history");
                break;
            }
        }
        if (!copyWithXclip("plain text after the stacks " + std::to_string(getpid()), xclips)) {
            state.SkipWithError("the plain text did not reach the history");
        }
        guiCpuMs = threadCpuMilliseconds() - cpuBefore;
        poster.reset();
        QCoreApplication::sendPostedEvents(&probe, LatencyProbe::probeType());
        state.SetIterationTime(percentile(probe.micros, 0.5) / 1e6);
    }
    for (const pid_t pid : xclips) {
        bench::stop(pid);
    }
    const auto& us = probe.micros;
    state.counters["samples"] = static_cast<double>(us.size());
    state.counters["median_us"] = percentile(us, 0.5);
    state.counters["p99_us"] = percentile(us, 0.99);
    state.counters["max_us"] = us.empty() ? 0 : *std::max_element(us.begin(), us.end());
    state.counters["gui_cpu_ms"] = guiCpuMs;
}
BENCHMARK(BM_GuiEventLatency_MarkStacksThenPlain)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace brimlet

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    // A clipboard owner that quits while we write to it must not end us.
    std::signal(SIGPIPE, SIG_IGN);

    // Never the user's own clipboard: a display of our own unless told one.
    std::unique_ptr<brimlet::bench::XServer> server;
    const char* given = std::getenv("BRIMLET_TEST_DISPLAY");
    if (given != nullptr && *given != '\0') {
        setenv("DISPLAY", given, 1);
    } else {
        server = std::make_unique<brimlet::bench::XServer>();
        if (server->display().empty()) {
            std::fputs("bench_x11: Xvfb did not start\n", stderr);
            return 1;
        }
        setenv("DISPLAY", server->display().c_str(), 1);
    }
    unsetenv("WAYLAND_DISPLAY");
    setenv("QT_QPA_PLATFORM", "xcb", 1);

    QGuiApplication app(argc, argv);
    brimlet::Desktop desktop;
    desktop.board = brimlet::platform::openX11Pasteboard();
    if (desktop.board == nullptr) {
        std::fputs("bench_x11: cannot reach the display or it lacks XFixes\n", stderr);
        return 1;
    }
    desktop.counting = std::make_unique<brimlet::CountingPasteboard>(*desktop.board);
    desktop.store = brimlet::ClipStore::make({
        .generalPasteboard = [&desktop]() -> brimlet::platform::Pasteboard& {
            return *desktop.counting;
        },
        .timers = &desktop.timers,
        .mainExecutor = &desktop.executor,
    });
    desktop.store->start();
    brimlet::gDesktop = &desktop;
    benchmark::RunSpecifiedBenchmarks();
    brimlet::gDesktop = nullptr;
    benchmark::Shutdown();
    return 0;
}
