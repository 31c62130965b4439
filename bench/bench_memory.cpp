// Resident memory of the running application: idle with an empty history,
// and holding 50 entries of 1 MB, beside a bare Qt program that shows only a
// tray icon. The entries come in three kinds, each in a fresh application:
// NFC lower-case prose, whose keys are its own bytes; NFC prose with capitals,
// whose search key is a folded copy; and decomposed prose, whose keys are an
// NFC copy. All on a private Xvfb with a tray host (trayer), so that every
// program docks its icon as on a desktop, and no other Brimlet shares the
// display. The figures are counters (kB): VmRSS, and Pss where readable.
#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_processes.h"

namespace brimlet {
namespace {

using namespace std::chrono_literals;
using bench::Clock;
using bench::procField;

constexpr auto kSettle = 4s;
constexpr std::size_t kEntries = 50;
constexpr std::size_t kEntryBytes = std::size_t{1} << 20;
// One copy per poll: quicker ones would count as a flood.
constexpr auto kCopyGap = 500ms;
// Copies faster than the poll wait their turn, one per period.
constexpr auto kPollPeriod = 500ms;
constexpr auto kFillMargin = 5s;

struct Footprint {
    long rssKb = 0;
    std::optional<long> pssKb;
};

std::optional<Footprint> footprint(pid_t pid) {
    const std::string dir = "/proc/" + std::to_string(pid) + "/";
    const auto rss = procField(dir + "status", "VmRSS:");
    if (!rss) {
        return std::nullopt;
    }
    return Footprint{*rss, procField(dir + "smaps_rollup", "Pss:")};
}

// The private desktop: the display and its tray host, for the whole run.
class Desktop {
  public:
    Desktop() {
        if (server_.display().empty()) {
            return;
        }
        environment_ = bench::environmentWith({
            {"DISPLAY", server_.display()},
            {"QT_QPA_PLATFORM", std::string("xcb")},
            {"WAYLAND_DISPLAY", std::nullopt},
            // No session bus: icons go to the XEmbed tray host, never to a
            // status-notifier watcher on someone else's bus.
            {"DBUS_SESSION_BUS_ADDRESS", std::nullopt},
        });
        trayHost_ =
            bench::spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                          "--height", "24", "--SetDockType", "true", "--transparent", "false"},
                         {.environment = &environment_})
                .pid;
        std::this_thread::sleep_for(1s);
    }
    ~Desktop() {
        bench::stop(app_);
        bench::stop(trayHost_);
    }
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    [[nodiscard]] bool ready() const { return trayHost_ > 0 && !bench::reaped(trayHost_); }
    [[nodiscard]] const std::vector<std::string>& environment() const { return environment_; }

    pid_t start(const std::string& program) {
        const pid_t pid = bench::spawn({program}, {.environment = &environment_}).pid;
        std::this_thread::sleep_for(kSettle);
        return pid;
    }

    // The application, started on first use and kept for the later cases.
    pid_t app() {
        if (app_ <= 0 || bench::reaped(app_)) {
            app_ = start(BRIMLET_BINARY);
        }
        return app_;
    }
    // A fresh application, with an empty history.
    pid_t restartApp() {
        bench::stop(app_);
        app_ = -1;
        return app();
    }

  private:
    bench::XServer server_;
    std::vector<std::string> environment_;
    pid_t trayHost_ = -1;
    pid_t app_ = -1;
};
Desktop* gDesktop = nullptr;

bool report(benchmark::State& state, pid_t pid) {
    const auto figures = pid > 0 && !bench::reaped(pid) ? footprint(pid) : std::nullopt;
    if (!figures) {
        state.SkipWithError("the program is not running");
        return false;
    }
    state.counters["rss_kb"] = static_cast<double>(figures->rssKb);
    if (figures->pssKb) {
        state.counters["pss_kb"] = static_cast<double>(*figures->pssKb);
    }
    return true;
}

void BM_TrayIconOnly(benchmark::State& state) {
    for (auto _ : state) {
        const pid_t pid = gDesktop->start(BRIMLET_TRAY_ONLY);
        report(state, pid);
        bench::stop(pid);
    }
}
BENCHMARK(BM_TrayIconOnly)->Iterations(1)->Unit(benchmark::kSecond);

void BM_BrimletIdleEmpty(benchmark::State& state) {
    for (auto _ : state) {
        report(state, gDesktop->app());
    }
}
BENCHMARK(BM_BrimletIdleEmpty)->Iterations(1)->Unit(benchmark::kSecond);

enum Kind { kNfcLowerCase, kNfcCapitals, kDecomposed };

// Distinct prose of `size` bytes.
std::string text(std::size_t size, unsigned seed, Kind kind) {
    static const char* const lower[] = {"the",   "history", "keeps", "every", "text",  "copied",
                                        "from",  "other",   "panel", "shows", "clip",  "board",
                                        "timer", "fires",   "store", "value", "window"};
    static const char* const capitals[] = {"The",  "History", "keeps",  "Every", "text",
                                           "Café", "crème",   "Brûlée", "panel", "Shows"};
    static const char* const decomposed[] = {
        "cafe\u0301",  "cre\u0300me",  "bru\u0302le\u0301e", "de\u0301ja\u0300",
        "nai\u0308ve", "fac\u0327ade", "u\u0308ber",         "pin\u0303ata"};
    std::mt19937 random(seed);
    std::string out = "entry " + std::to_string(seed) + ":";
    out.reserve(size + 16);
    while (out.size() < size) {
        out += ' ';
        switch (kind) {
            case kNfcLowerCase:
                out += lower[random() % std::size(lower)];
                break;
            case kNfcCapitals:
                out += capitals[random() % std::size(capitals)];
                break;
            case kDecomposed:
                out += decomposed[random() % std::size(decomposed)];
                break;
        }
    }
    // Cut between characters: back up over continuation bytes.
    std::size_t cut = size;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    out.resize(cut);
    return out;
}

// Copies `count` distinct texts of `bytes` each, one per poll, and waits
// until the history has had time to take them in.
void copyTexts(unsigned count, std::size_t bytes, unsigned firstSeed, Kind kind = kNfcLowerCase) {
    const Clock::time_point first = Clock::now();
    std::vector<pid_t> xclips;
    for (unsigned i = 0; i < count; ++i) {
        const std::string copied = text(bytes, firstSeed + i, kind);
        const bench::Spawned xclip =
            bench::spawn({"xclip", "-selection", "clipboard", "-quiet"},
                         {.pipeStdin = true, .environment = &gDesktop->environment()});
        if (xclip.pid > 0) {
            bench::writeAll(xclip.stdinFd, copied);
            close(xclip.stdinFd);
            xclips.push_back(xclip.pid);
        }
        std::this_thread::sleep_for(kCopyGap);
    }
    std::this_thread::sleep_until(first + count * kPollPeriod + kFillMargin);
    for (const pid_t pid : xclips) {
        bench::stop(pid);
    }
}

void BM_BrimletHolding50x1MB(benchmark::State& state) {
    const auto kind = static_cast<Kind>(state.range(0));
    static const char* const labels[] = {"nfc_lower_case", "nfc_capitals", "decomposed"};
    state.SetLabel(labels[kind]);
    for (auto _ : state) {
        const pid_t app = gDesktop->restartApp();
        const auto before = footprint(app);
        copyTexts(kEntries, kEntryBytes, 1, kind);
        if (!report(state, app) || !before) {
            break;
        }
        const long grownKb = footprint(app).value_or(*before).rssKb - before->rssKb;
        state.counters["rss_growth_kb"] = static_cast<double>(grownKb);
        // The texts alone are 50 MB; less growth means copies went missing.
        if (grownKb < static_cast<long>(kEntries * kEntryBytes / 1024)) {
            state.SkipWithError("the history did not take in 50 MB of texts");
        }
    }
}
BENCHMARK(BM_BrimletHolding50x1MB)
    ->ArgName("kind")
    ->Arg(kNfcLowerCase)
    ->Arg(kNfcCapitals)
    ->Arg(kDecomposed)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// Texts of 8 MB: 32 fill the 256 MiB budget; 18 more make 50 copies, and the
// budget trims the oldest as they come (without it, 400 MB would stay).
void BM_BrimletHolding8MBTexts(benchmark::State& state) {
    constexpr std::size_t kLarge = std::size_t{8} << 20;
    for (auto _ : state) {
        const pid_t app = gDesktop->app();
        copyTexts(32, kLarge, 1000);
        const auto atBudget = footprint(app);
        copyTexts(18, kLarge, 2000);
        if (!report(state, app) || !atBudget) {
            break;
        }
        state.counters["rss_at_budget_kb"] = static_cast<double>(atBudget->rssKb);
        state.counters["rss_after_50_kb"] = state.counters["rss_kb"];
    }
}
BENCHMARK(BM_BrimletHolding8MBTexts)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace brimlet

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);
    brimlet::Desktop desktop;
    if (!desktop.ready()) {
        std::fputs("bench_memory: Xvfb or trayer did not start\n", stderr);
        return 1;
    }
    brimlet::gDesktop = &desktop;
    benchmark::RunSpecifiedBenchmarks();
    brimlet::gDesktop = nullptr;
    benchmark::Shutdown();
    return 0;
}
