// The history's costs: an idle poll, captures into a full history of large
// texts, canonical text equality, and making a text's keys (which happens
// where the clipboard is read, off the GUI thread). Each costly case has a
// baseline that does the plain byte work the same operation cannot avoid, on
// the same data, so the overhead reads off as a ratio.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "history/clip_store.h"
#include "platform/fakes/fake_pasteboard.h"
#include "platform/fakes/fake_scheduling.h"

namespace brimlet {
namespace {

using platform::FakeMainExecutor;
using platform::FakePasteboard;
using platform::FakeTimerScheduler;

constexpr std::size_t kMegabyte = std::size_t{1} << 20;

// Word soup of `size` bytes; ASCII unless `words` are not.
std::string prose(std::size_t size, unsigned seed, const std::vector<std::string>& words) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::size_t> pick(0, words.size() - 1);
    std::string out;
    out.reserve(size + 32);
    while (out.size() < size) {
        out += words[pick(random)];
        out += (random() % 12 == 0) ? '\n' : ' ';
    }
    out.resize(size);
    return out;
}

const std::vector<std::string>& englishWords() {
    static const std::vector<std::string> words = {
        "the",     "history", "keeps",  "every", "text",   "copied",  "from",   "other",
        "window",  "while",   "panel",  "shows", "latest", "entries", "search", "field",
        "clip",    "board",   "change", "count", "moves",  "when",    "new",    "content",
        "arrives", "timer",   "fires",  "twice", "second", "store",   "entry",  "value"};
    return words;
}

const std::vector<std::string>& decomposedWords() {
    static const std::vector<std::string> words = {"cafe\u0301",         "cre\u0300me",
                                                   "bru\u0302le\u0301e", "de\u0301ja\u0300",
                                                   "nai\u0308ve",        "fac\u0327ade",
                                                   "r\u00e9sume\u0301",  "pin\u0303ata",
                                                   "u\u0308ber",         "smo\u0308rga\u030asbord"};
    return words;
}

// Texts of one size that differ only in their last bytes, so every
// comparison has to run to the end: the worst case for capture.
std::vector<platform::Text> nearTwins(std::size_t count, std::size_t size,
                                      const std::vector<std::string>& words = englishWords()) {
    const std::string base = prose(size, 7, words);
    std::vector<platform::Text> texts;
    texts.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::string bytes = base;
        const std::string tag = "#" + std::to_string(i);
        bytes.replace(bytes.size() - tag.size(), tag.size(), tag);
        texts.emplace_back(std::move(bytes));
    }
    return texts;
}

// The same bytes in separate storage, so equality cannot short-cut on it.
platform::Text copyOf(const platform::Text& text) {
    return platform::Text(std::string(text.bytes()));
}

// A started store on in-memory platform pieces.
struct Rig {
    Rig() {
        store = ClipStore::make({
            .generalPasteboard = [this]() -> platform::Pasteboard& { return board; },
            .timers = &timers,
            .mainExecutor = &executor,
        });
        store->start();
    }
    void poll() {
        timers.tick();
        executor.runAll();
    }
    void copy(const platform::Text& text) {
        board.copyFromOtherApp(text);
        poll();
    }

    FakePasteboard board;
    FakeTimerScheduler timers;
    FakeMainExecutor executor;
    std::shared_ptr<ClipStore> store;
};

void BM_PollTickWithoutChange(benchmark::State& state) {
    Rig rig;
    const auto texts = nearTwins(kHistoryCapacity, 1024);
    for (const auto& text : texts) {
        rig.copy(text);
    }
    const int readsBefore = rig.board.stringReads;
    const int countsBefore = rig.board.counterReads;
    for (auto _ : state) {
        rig.poll();
    }
    const int contentReads = rig.board.stringReads - readsBefore;
    if (contentReads != 0) {
        state.SkipWithError("an idle tick read the clipboard's text");
    }
    state.counters["text_reads"] = contentReads;
    state.counters["counter_reads_per_tick"] =
        benchmark::Counter(static_cast<double>(rig.board.counterReads - countsBefore),
                           benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_PollTickWithoutChange);

// A full history of 1 MB near-twins, plus twins that are not in it.
struct FullHistory {
    explicit FullHistory(const std::vector<std::string>& words = englishWords())
        : texts(nearTwins(2 * kHistoryCapacity + 28, kMegabyte, words)) {
        for (std::size_t i = 0; i < kHistoryCapacity; ++i) {
            rig.copy(texts[i]);
        }
    }
    Rig rig;
    std::vector<platform::Text> texts;
};

// Byte comparisons a capture makes: the newest entry, then every entry in
// the removal pass.
bool sameBytes(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size()) == 0;
}

void BM_CaptureNewTextAtCap(benchmark::State& state) {
    FullHistory full;
    std::size_t next = kHistoryCapacity;
    for (auto _ : state) {
        // Cycling through more texts than the history holds keeps each one new.
        full.rig.copy(full.texts[next]);
        next = next + 1 == full.texts.size() ? 0 : next + 1;
    }
    if (full.rig.store->items().size() != kHistoryCapacity) {
        state.SkipWithError("history not at its cap");
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * (kHistoryCapacity + 1) * kMegabyte));
}
BENCHMARK(BM_CaptureNewTextAtCap)->Unit(benchmark::kMillisecond);

void BM_CaptureNewTextAtCap_Baseline(benchmark::State& state) {
    FullHistory full;
    const platform::Text fresh = full.texts[kHistoryCapacity];
    for (auto _ : state) {
        bool any = sameBytes(fresh.bytes(), full.rig.store->items().front().text.bytes());
        for (const auto& item : full.rig.store->items()) {
            any = sameBytes(fresh.bytes(), item.text.bytes()) || any;
        }
        benchmark::DoNotOptimize(any);
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * (kHistoryCapacity + 1) * kMegabyte));
}
BENCHMARK(BM_CaptureNewTextAtCap_Baseline)->Unit(benchmark::kMillisecond);

// The same with decomposed texts, none of them NFC: the keys compared are
// their NFC forms, made when each text was read.
void BM_CaptureDecomposedAtCap(benchmark::State& state) {
    FullHistory full(decomposedWords());
    if (full.rig.store->items().front().text.equalityKey() ==
        full.rig.store->items().front().text.bytes()) {
        state.SkipWithError("setup: expected texts that are not NFC");
    }
    std::size_t next = kHistoryCapacity;
    for (auto _ : state) {
        full.rig.copy(full.texts[next]);
        next = next + 1 == full.texts.size() ? 0 : next + 1;
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * (kHistoryCapacity + 1) * kMegabyte));
}
BENCHMARK(BM_CaptureDecomposedAtCap)->Unit(benchmark::kMillisecond);

void BM_CaptureDecomposedAtCap_Baseline(benchmark::State& state) {
    FullHistory full(decomposedWords());
    const platform::Text fresh = full.texts[kHistoryCapacity];
    for (auto _ : state) {
        bool any = sameBytes(fresh.bytes(), full.rig.store->items().front().text.bytes());
        for (const auto& item : full.rig.store->items()) {
            any = sameBytes(fresh.bytes(), item.text.bytes()) || any;
        }
        benchmark::DoNotOptimize(any);
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * (kHistoryCapacity + 1) * kMegabyte));
}
BENCHMARK(BM_CaptureDecomposedAtCap_Baseline)->Unit(benchmark::kMillisecond);

void BM_CaptureSameAsNewest(benchmark::State& state) {
    FullHistory full;
    const platform::Text again = copyOf(full.rig.store->items().front().text);
    for (auto _ : state) {
        full.rig.copy(again);
    }
    if (!full.rig.store->items().front().text.sharesStorageWith(full.texts[kHistoryCapacity - 1])) {
        state.SkipWithError("the newest entry was replaced");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kMegabyte));
}
BENCHMARK(BM_CaptureSameAsNewest)->Unit(benchmark::kMicrosecond);

void BM_CaptureSameAsNewest_Baseline(benchmark::State& state) {
    FullHistory full;
    const platform::Text again = copyOf(full.rig.store->items().front().text);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            sameBytes(again.bytes(), full.rig.store->items().front().text.bytes()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kMegabyte));
}
BENCHMARK(BM_CaptureSameAsNewest_Baseline)->Unit(benchmark::kMicrosecond);

void BM_CaptureSameAsOlderEntry(benchmark::State& state) {
    FullHistory full;
    for (auto _ : state) {
        // The oldest entry, copied anew: it moves to the top, so the next
        // oldest is another entry each time.
        state.PauseTiming();
        const platform::Text older = copyOf(full.rig.store->items().back().text);
        state.ResumeTiming();
        full.rig.copy(older);
    }
    if (full.rig.store->items().size() != kHistoryCapacity) {
        state.SkipWithError("history size changed");
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * (kHistoryCapacity + 1) * kMegabyte));
}
BENCHMARK(BM_CaptureSameAsOlderEntry)->Unit(benchmark::kMillisecond);

void BM_CaptureSameAsOlderEntry_Baseline(benchmark::State& state) {
    FullHistory full;
    const platform::Text older = copyOf(full.rig.store->items().back().text);
    for (auto _ : state) {
        bool any = sameBytes(older.bytes(), full.rig.store->items().front().text.bytes());
        for (const auto& item : full.rig.store->items()) {
            any = sameBytes(older.bytes(), item.text.bytes()) || any;
        }
        benchmark::DoNotOptimize(any);
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * (kHistoryCapacity + 1) * kMegabyte));
}
BENCHMARK(BM_CaptureSameAsOlderEntry_Baseline)->Unit(benchmark::kMillisecond);

// Canonical equality of 1 MB texts.

std::string repeatToSize(std::string_view unit, std::size_t size) {
    std::string out;
    out.reserve(size + unit.size());
    while (out.size() < size) {
        out += unit;
    }
    return out;
}

void BM_TextEqualSameBytes(benchmark::State& state) {
    const platform::Text a(repeatToSize("caf\u00e9 cr\u00e8me br\u00fbl\u00e9e ", kMegabyte));
    const platform::Text b = copyOf(a);
    for (auto _ : state) {
        benchmark::DoNotOptimize(a == b);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * a.size()));
}
BENCHMARK(BM_TextEqualSameBytes)->Unit(benchmark::kMicrosecond);

void BM_TextEqualBothNfcDiffering(benchmark::State& state) {
    std::string bytes = repeatToSize("caf\u00e9 cr\u00e8me br\u00fbl\u00e9e ", kMegabyte);
    const platform::Text a(bytes);
    bytes.back() = '!';
    const platform::Text b(bytes);
    if (a.equalityKey() != a.bytes() || b.equalityKey() != b.bytes() || a == b) {
        state.SkipWithError("setup: expected two different NFC texts");
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(a == b);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * a.size()));
}
BENCHMARK(BM_TextEqualBothNfcDiffering)->Unit(benchmark::kMicrosecond);

// About 1 MB of one phrase, precomposed, and the same decomposed.
constexpr std::string_view kComposed = "caf\u00e9 cr\u00e8me br\u00fbl\u00e9e ";
constexpr std::string_view kDecomposed = "cafe\u0301 cre\u0300me bru\u0302le\u0301e ";
std::string phrases(std::string_view phrase) {
    std::string out;
    for (std::size_t i = 0; i < kMegabyte / kComposed.size(); ++i) {
        out += phrase;
    }
    return out;
}

void BM_TextEqualOneSideDecomposed(benchmark::State& state) {
    const platform::Text a(phrases(kComposed));
    const platform::Text b(phrases(kDecomposed));
    if (b.equalityKey() == b.bytes() || !(a == b)) {
        state.SkipWithError("setup: expected equal texts, one decomposed");
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(a == b);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * a.size()));
}
BENCHMARK(BM_TextEqualOneSideDecomposed)->Unit(benchmark::kMicrosecond);

// Distinct texts stop at the first byte of their keys that differs.
void BM_TextEqualOneSideDecomposedDifferingEarly(benchmark::State& state) {
    const platform::Text a("x" + phrases(kComposed));
    const platform::Text b(phrases(kDecomposed));
    for (auto _ : state) {
        benchmark::DoNotOptimize(a == b);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * a.size()));
}
BENCHMARK(BM_TextEqualOneSideDecomposedDifferingEarly)->Unit(benchmark::kMicrosecond);

// One full pass over two equal 1 MB buffers: what any equality must pay.
void BM_TextEqual_Baseline(benchmark::State& state) {
    const std::string a = repeatToSize("caf\u00e9 cr\u00e8me br\u00fbl\u00e9e ", kMegabyte);
    const std::string b = a;  // NOLINT(performance-unnecessary-copy-initialization): own buffer
    for (auto _ : state) {
        benchmark::DoNotOptimize(sameBytes(a, b));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * a.size()));
}
BENCHMARK(BM_TextEqual_Baseline)->Unit(benchmark::kMicrosecond);

// Making a text's keys: what the clipboard's reader pays per text, off the
// GUI thread. Beside it, a copy of the same bytes.

// A letter under marks of three classes, about `size` bytes: the text that
// once stalled the history for seconds per copy.
std::string markStack(std::size_t size) {
    return "a" + repeatToSize("\u0301\u0316\u0357", size - 1);
}

std::string russianProse(std::size_t size) {
    return prose(
        size, 11,
        {"\u0418\u0441\u0442\u043e\u0440\u0438\u044f", "\u0445\u0440\u0430\u043d\u0438\u0442",
         "\u043a\u0430\u0436\u0434\u044b\u0439", "\u0422\u0435\u043a\u0441\u0442",
         "\u043e\u043a\u043d\u0430", "\u043f\u043e\u0438\u0441\u043a"});
}

std::string sample(int kind, std::size_t size) {
    switch (kind) {
        case 0:
            return prose(size, 3, englishWords());
        case 1:
            return russianProse(size);
        case 2:
            return prose(size, 5, decomposedWords());
        default:
            return markStack(size);
    }
}

void setLabel(benchmark::State& state) {
    static const char* const kinds[] = {"english", "russian", "decomposed", "mark_stack"};
    state.SetLabel(kinds[state.range(0)]);
}

void BM_MakeTextWithKeys(benchmark::State& state) {
    const std::string bytes =
        sample(static_cast<int>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(platform::Text(bytes));
    }
    setLabel(state);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_SearchKeyOnly(benchmark::State& state) {
    const std::string bytes =
        sample(static_cast<int>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(platform::searchKeyOf(bytes, platform::CaseRules::Standard));
    }
    setLabel(state);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_MakeTextWithKeys_Baseline(benchmark::State& state) {
    const std::string bytes =
        sample(static_cast<int>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    for (auto _ : state) {
        std::string copy = bytes;
        benchmark::DoNotOptimize(copy);
        benchmark::DoNotOptimize(sameBytes(copy, bytes));
    }
    setLabel(state);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

// 1 MB of each kind, and mark stacks of 180 KB and 1.8 MB.
void keyCases(benchmark::internal::Benchmark* b) {
    b->ArgNames({"kind", "bytes"});
    for (int kind = 0; kind < 3; ++kind) {
        b->Args({kind, static_cast<std::int64_t>(kMegabyte)});
    }
    b->Args({3, 180000})->Args({3, 1800000});
    b->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_MakeTextWithKeys)->Apply(keyCases);
BENCHMARK(BM_SearchKeyOnly)->Apply(keyCases);
BENCHMARK(BM_MakeTextWithKeys_Baseline)->Apply(keyCases);

// Five mark stacks copied, then a plain text: the GUI thread's share of the
// plain text's capture, with the stacks in the history.
void BM_CapturePlainAfterMarkStacks(benchmark::State& state) {
    Rig rig;
    std::vector<platform::Text> stacks;
    for (int i = 0; i < 5; ++i) {
        stacks.emplace_back(markStack(180000) + std::to_string(i));
    }
    const platform::Text plain("a plain text");
    const platform::Text other("another plain text");
    rig.copy(plain);
    rig.copy(other);
    bool flip = true;
    for (auto _ : state) {
        state.PauseTiming();
        for (const auto& stack : stacks) {
            rig.copy(stack);
        }
        state.ResumeTiming();
        rig.copy(flip ? plain : other);
        flip = !flip;
    }
    if (rig.store->items().size() != 7) {
        state.SkipWithError("expected five stacks and two plain texts");
    }
}
BENCHMARK(BM_CapturePlainAfterMarkStacks)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace brimlet

BENCHMARK_MAIN();
