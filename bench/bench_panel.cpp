// The panel's share of one copy: a shown ShelfView on a full history, one
// more distinct text copied, the poll, the capture, the queued rebuild, and
// the layout and painting that follow. Entries of 1 MB against entries of
// 64 bytes tell what the size of the texts costs; a rebuild with the same
// list tells what the rebuild costs without a new row. Last, one row laid
// out and painted, for a letter under tens of thousands of marks beside
// plain prose of the same size. And one keystroke in the search field over
// texts of 1 MB in each script, and a row's preview of 2 kB against 20 MB.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QWidget>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "bench_search.h"
#include "history/clip_store.h"
#include "panel/item_row.h"
#include "panel/search_filter.h"
#include "panel/shelf_view.h"
#include "platform/fakes/fake_pasteboard.h"
#include "platform/fakes/fake_scheduling.h"
#include "platform/ui/verbatim_text.h"

namespace brimlet {
namespace {

using platform::FakeMainExecutor;
using platform::FakePasteboard;
using platform::FakeTimerScheduler;

// Prose of `size` bytes that differs from every other seed's from the start.
platform::Text distinctText(std::size_t size, unsigned seed) {
    static const std::vector<std::string> words = {
        "the",   "history", "keeps",   "every", "text",   "copied", "from",  "other",
        "panel", "shows",   "latest",  "entry", "search", "field",  "clip",  "board",
        "timer", "fires",   "content", "moves", "store",  "value",  "window"};
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::size_t> pick(0, words.size() - 1);
    std::string out = "#" + std::to_string(seed) + " ";
    out.reserve(size + 16);
    while (out.size() < size) {
        out += words[pick(random)];
        out += (random() % 12 == 0) ? '\n' : ' ';
    }
    out.resize(size);
    return platform::Text(std::move(out));
}

// One text more than the history holds: cycling through them, each copy is
// new to the history.
std::vector<platform::Text> distinctTexts(std::size_t size) {
    std::vector<platform::Text> texts;
    for (unsigned i = 0; i <= kHistoryCapacity; ++i) {
        texts.push_back(distinctText(size, i + 1));
    }
    return texts;
}

// `s` less its last character.
std::string_view chopped(std::string_view s) {
    std::size_t end = s.size() - 1;
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) {
        --end;
    }
    return s.substr(0, end);
}

// Counts paint events of the panel's rows, to show that painting happened.
class PaintCounter final : public QObject {
  public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && dynamic_cast<ItemRow*>(watched) != nullptr) {
            ++rowPaints;
        }
        return false;
    }
    long rowPaints = 0;
};

// A shown panel on a store with a full history of distinct texts; one queue
// runs the store's checks and the panel's rebuilds.
class PanelRig {
    FakePasteboard board_;
    FakeTimerScheduler timers_;
    FakeMainExecutor executor_;
    std::vector<platform::Text> texts_;
    std::size_t next_ = 0;

  public:
    explicit PanelRig(std::vector<platform::Text> texts) : texts_(std::move(texts)) {
        store = ClipStore::make({
            .generalPasteboard = [this]() -> platform::Pasteboard& { return board_; },
            .timers = &timers_,
            .mainExecutor = &executor_,
        });
        store->start();
        view = std::make_unique<ShelfView>(*store, executor_);
        view->resize(ShelfView::kWidth, ShelfView::kHeight);
        view->show();
        settle();
        for (std::size_t i = 0; i < kHistoryCapacity; ++i) {
            copyNext();
        }
        QCoreApplication::instance()->installEventFilter(&paints);
    }
    ~PanelRig() { QCoreApplication::instance()->removeEventFilter(&paints); }
    PanelRig(const PanelRig&) = delete;
    PanelRig& operator=(const PanelRig&) = delete;

    // Another program copies the next text; one poll later the panel shows it.
    void copyNext() {
        const platform::Text& text = texts_[next_];
        next_ = (next_ + 1) % texts_.size();
        copy(text);
    }
    void copy(const platform::Text& text) {
        board_.copyFromOtherApp(text);
        timers_.tick();
        settle();
    }

    // Runs the queued checks and rebuilds, then lays out and paints.
    void settle() {
        executor_.runAll();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    [[nodiscard]] const platform::Text& lastCopied() const {
        return texts_[(next_ + texts_.size() - 1) % texts_.size()];
    }

    PaintCounter paints;
    std::shared_ptr<ClipStore> store;
    std::unique_ptr<ShelfView> view;
};

void reportPaints(benchmark::State& state, const PanelRig& rig) {
    state.counters["row_paints_per_iter"] = benchmark::Counter(
        static_cast<double>(rig.paints.rowPaints), benchmark::Counter::kAvgIterations);
}

void BM_PanelCopyAtCap(benchmark::State& state) {
    PanelRig rig(distinctTexts(static_cast<std::size_t>(state.range(0))));
    for (auto _ : state) {
        rig.copyNext();
    }
    const auto& items = rig.store->items();
    if (items.size() != kHistoryCapacity ||
        !items.front().text.sharesStorageWith(rig.lastCopied())) {
        state.SkipWithError("the copy did not reach the top of a full history");
    }
    reportPaints(state, rig);
}
BENCHMARK(BM_PanelCopyAtCap)
    ->ArgName("entry_bytes")
    ->Arg(64)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond);

void BM_PanelRebuildSameItems(benchmark::State& state) {
    PanelRig rig(distinctTexts(static_cast<std::size_t>(state.range(0))));
    for (auto _ : state) {
        rig.store->setItems(rig.store->items());
        rig.settle();
    }
    reportPaints(state, rig);
}
BENCHMARK(BM_PanelRebuildSameItems)
    ->ArgName("entry_bytes")
    ->Arg(64)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond);

// A letter under marks of three classes, `size` bytes or a little more.
std::string markStack(std::size_t size) {
    std::string out = "a";
    out.reserve(size + 8);
    while (out.size() < size) {
        out += "\u0301\u0316\u0357";
    }
    return out;
}

// Five mark stacks copied into a shown panel, then a plain text: each copy's
// whole GUI-thread share (capture, rebuild, layout, paint), the slowest
// reported. Their keys were made beforehand, as the clipboard's reader does.
void BM_PanelCopyMarkStacksThenPlain(benchmark::State& state) {
    PanelRig rig(distinctTexts(64));
    std::vector<platform::Text> texts;
    for (int i = 0; i < 5; ++i) {
        texts.emplace_back(std::to_string(i) + markStack(180000));
    }
    texts.emplace_back("a plain text");
    double slowestMs = 0;
    for (auto _ : state) {
        for (const auto& text : texts) {
            const auto start = std::chrono::steady_clock::now();
            rig.copy(text);
            const std::chrono::duration<double, std::milli> took =
                std::chrono::steady_clock::now() - start;
            slowestMs = std::max(slowestMs, took.count());
        }
        // Something else on top, so that the next round captures them all anew.
        state.PauseTiming();
        rig.copyNext();
        state.ResumeTiming();
    }
    state.counters["slowest_copy_ms"] = slowestMs;
    reportPaints(state, rig);
}
BENCHMARK(BM_PanelCopyMarkStacksThenPlain)->Unit(benchmark::kMillisecond);

// Lays the row out at the panel's width and paints it into a pixmap.
void rowLayout(benchmark::State& state, const platform::Text& text) {
    for (auto _ : state) {
        ItemRow row({platform::Uuid::random(), text}, [] {});
        row.resize(ShelfView::kWidth, row.heightForWidth(ShelfView::kWidth));
        benchmark::DoNotOptimize(row.grab());
    }
}

void BM_RowLayout_MarkStack(benchmark::State& state) {
    rowLayout(state, platform::Text(markStack(static_cast<std::size_t>(state.range(0)))));
}
BENCHMARK(BM_RowLayout_MarkStack)
    ->ArgName("bytes")
    ->Arg(180000)
    ->Arg(1800000)
    ->Unit(benchmark::kMillisecond);

void BM_RowLayout_Prose_Baseline(benchmark::State& state) {
    rowLayout(state, distinctText(static_cast<std::size_t>(state.range(0)), 1));
}
BENCHMARK(BM_RowLayout_Prose_Baseline)
    ->ArgName("bytes")
    ->Arg(180000)
    ->Arg(1800000)
    ->Unit(benchmark::kMillisecond);

// One keystroke in the search field over a full history of 1 MB texts in
// `script`, from the query less its last character to the whole query and
// back: every fifth text ends in the query and every fifth other in the
// shorter one, so each keystroke reads all the texts and the panel shows 10
// rows more or fewer.
void BM_PanelKeystroke(benchmark::State& state, bench::Script script) {
    constexpr std::size_t kSize = 1 << 20;
    const std::string_view query = bench::absentQueryOf(script);
    std::vector<platform::Text> texts;
    for (unsigned i = 0; i <= kHistoryCapacity; ++i) {
        std::string text = "#" + std::to_string(i) + " " + bench::prose(script, kSize, i + 1);
        text += i % 5 == 0 ? query : i % 5 == 1 ? chopped(query) : std::string_view();
        texts.emplace_back(std::move(text));
    }
    PanelRig rig(std::move(texts));
    const auto fifth = static_cast<std::size_t>(kHistoryCapacity / 5);
    if (filterItems(rig.store->items(), query).size() != fifth ||
        filterItems(rig.store->items(), chopped(query)).size() != 2 * fifth) {
        state.SkipWithError("setup: the queries should match a fifth and two fifths");
    }
    auto* search = rig.view->findChild<QLineEdit*>("search");
    const std::array<QString, 2> keystrokes = {QString::fromUtf8(query),
                                               QString::fromUtf8(chopped(query))};
    std::size_t next = 0;
    for (auto _ : state) {
        search->setText(keystrokes[next]);
        next ^= 1;
        rig.settle();
    }
    reportPaints(state, rig);
    // The search's share, in CPU time.
    constexpr int kSearches = 20;
    const double start = bench::cpuSeconds();
    for (int i = 0; i < kSearches; ++i) {
        benchmark::DoNotOptimize(
            filterItems(rig.store->items(), keystrokes[i % 2].toUtf8().toStdString()));
    }
    state.counters["search_ms"] = (bench::cpuSeconds() - start) * 1e3 / kSearches;
}
BENCHMARK_CAPTURE(BM_PanelKeystroke, English, bench::Script::English)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PanelKeystroke, Russian, bench::Script::Russian)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PanelKeystroke, Greek, bench::Script::Greek)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PanelKeystroke, Arabic, bench::Script::Arabic)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PanelKeystroke, CJK, bench::Script::Cjk)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PanelKeystroke, Emoji, bench::Script::Emoji)->Unit(benchmark::kMillisecond);

// A row's preview, laid out and painted: only a prefix of the text is read,
// so 20 MB cost what 2 kB do.
void BM_Preview(benchmark::State& state) {
    const platform::Text text = distinctText(static_cast<std::size_t>(state.range(0)), 2);
    for (auto _ : state) {
        platform::ui::VerbatimText preview(text, platform::ui::TextPreview::kLineLimit);
        preview.resize(ShelfView::kWidth, preview.heightForWidth(ShelfView::kWidth));
        benchmark::DoNotOptimize(preview.grab());
    }
}
BENCHMARK(BM_Preview)->ArgName("bytes")->Arg(2000)->Arg(20 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace brimlet

int main(int argc, char** argv) {
    // Widgets without a desktop: the offscreen platform still lays out and
    // paints into a backing store.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    QApplication app(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
