// One keystroke in the search field: filterItems over a full history of
// large texts, whose search keys were made when they were read. Each case
// has a baseline that looks for the query's bytes with memmem in the same
// texts (exact, case-sensitive), the least any search has to do.
#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "history/clip_store.h"
#include "panel/search_filter.h"

namespace brimlet {
namespace {

enum Language { kEnglish, kRussian, kMarkStacks };

const std::vector<std::string>& words(Language language) {
    static const std::vector<std::string> english = {
        "the",     "history", "keeps",  "every", "text",   "copied",  "from",   "other",
        "window",  "while",   "panel",  "shows", "latest", "entries", "search", "field",
        "clip",    "board",   "change", "count", "moves",  "when",    "new",    "content",
        "arrives", "timer",   "fires",  "twice", "second", "store",   "entry",  "Value"};
    static const std::vector<std::string> russian = {
        "история", "хранит", "каждый",      "текст",      "скопированный", "из",     "другого",
        "окна",    "пока",   "панель",      "Показывает", "последние",     "записи", "поиск",
        "поле",    "буфер",  "обмена",      "счётчик",    "меняется",      "когда",  "приходит",
        "новое",   "таймер", "срабатывает", "дважды",     "секунду",       "запись", "значение"};
    return language == kEnglish ? english : russian;
}

// Letters under long runs of marks of three classes.
std::string markStacks(std::size_t size, unsigned seed) {
    std::string text;
    text.reserve(size + 64);
    while (text.size() < size) {
        text += static_cast<char>('a' + (seed + text.size()) % 26);
        for (int i = 0; i < 3000; ++i) {
            text += "\u0301\u0316\u0357";
        }
    }
    return text;
}

std::string prose(Language language, std::size_t size, unsigned seed) {
    const auto& pool = words(language);
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);
    std::string text;
    text.reserve(size + 64);
    while (text.size() < size) {
        text += pool[pick(random)];
        text += (random() % 12 == 0) ? '\n' : ' ';
    }
    return text;
}

std::vector<ClipItem> history(Language language, std::size_t size) {
    std::vector<ClipItem> items;
    for (unsigned i = 0; i < kHistoryCapacity; ++i) {
        std::string text =
            language == kMarkStacks ? markStacks(size, i) : prose(language, size, i + 1);
        std::array<std::uint8_t, 16> id{};
        id[0] = static_cast<std::uint8_t>(i + 1);
        items.push_back({Uuid(id), Text(std::move(text))});
    }
    return items;
}

// Queries that occur nowhere, so every text is searched to its end.
constexpr std::string_view kAsciiQuery = "zebra crossing";
constexpr std::string_view kCyrillicQuery = "жираф";

void runFilter(benchmark::State& state, Language language, std::string_view query) {
    const auto items = history(language, static_cast<std::size_t>(state.range(0)));
    if (!filterItems(items, query).empty()) {
        state.SkipWithError("setup: the query should match nothing");
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(filterItems(items, query));
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * kHistoryCapacity * state.range(0)));
}

void runBaseline(benchmark::State& state, Language language, std::string_view query) {
    const auto items = history(language, static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::size_t hits = 0;
        for (const auto& item : items) {
            const std::string_view bytes = item.text.bytes();
            hits += memmem(bytes.data(), bytes.size(), query.data(), query.size()) != nullptr;
        }
        benchmark::DoNotOptimize(hits);
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * kHistoryCapacity * state.range(0)));
}

void BM_Filter_AsciiQuery_EnglishText(benchmark::State& state) {
    runFilter(state, kEnglish, kAsciiQuery);
}
void BM_Filter_AsciiQuery_EnglishText_Baseline(benchmark::State& state) {
    runBaseline(state, kEnglish, kAsciiQuery);
}
void BM_Filter_AsciiQuery_RussianText(benchmark::State& state) {
    runFilter(state, kRussian, kAsciiQuery);
}
void BM_Filter_AsciiQuery_RussianText_Baseline(benchmark::State& state) {
    runBaseline(state, kRussian, kAsciiQuery);
}
void BM_Filter_CyrillicQuery_RussianText(benchmark::State& state) {
    runFilter(state, kRussian, kCyrillicQuery);
}
void BM_Filter_CyrillicQuery_RussianText_Baseline(benchmark::State& state) {
    runBaseline(state, kRussian, kCyrillicQuery);
}
void BM_Filter_CyrillicQuery_EnglishText(benchmark::State& state) {
    runFilter(state, kEnglish, kCyrillicQuery);
}
void BM_Filter_CyrillicQuery_EnglishText_Baseline(benchmark::State& state) {
    runBaseline(state, kEnglish, kCyrillicQuery);
}
void BM_Filter_AsciiQuery_MarkStacks(benchmark::State& state) {
    runFilter(state, kMarkStacks, kAsciiQuery);
}
void BM_Filter_AsciiQuery_MarkStacks_Baseline(benchmark::State& state) {
    runBaseline(state, kMarkStacks, kAsciiQuery);
}

// 50 entries of 64 KB, and of 1 MB.
#define FILTER_BENCHMARK(name) \
    BENCHMARK(name)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond)

FILTER_BENCHMARK(BM_Filter_AsciiQuery_EnglishText);
FILTER_BENCHMARK(BM_Filter_AsciiQuery_EnglishText_Baseline);
FILTER_BENCHMARK(BM_Filter_AsciiQuery_RussianText);
FILTER_BENCHMARK(BM_Filter_AsciiQuery_RussianText_Baseline);
FILTER_BENCHMARK(BM_Filter_CyrillicQuery_RussianText);
FILTER_BENCHMARK(BM_Filter_CyrillicQuery_RussianText_Baseline);
FILTER_BENCHMARK(BM_Filter_CyrillicQuery_EnglishText);
FILTER_BENCHMARK(BM_Filter_CyrillicQuery_EnglishText_Baseline);
FILTER_BENCHMARK(BM_Filter_AsciiQuery_MarkStacks);
FILTER_BENCHMARK(BM_Filter_AsciiQuery_MarkStacks_Baseline);

}  // namespace
}  // namespace brimlet

BENCHMARK_MAIN();
