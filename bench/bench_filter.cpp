// One keystroke in the search field: filterItems over a full history of
// large texts, whose search keys were made when they were read. Each case
// has two baselines: memmem for the query's bytes in the same texts (exact,
// case-sensitive), and memchr for a byte that no key holds, run over the
// keys: reading them once, the least any search has to do. Every case
// reports its time against that floor, measured in the same run, as
// x_memchr; both in the thread's CPU time.
#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench_search.h"
#include "history/clip_store.h"
#include "panel/search_filter.h"

namespace brimlet {
namespace {

using bench::Script;

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

// The texts of one script, or mark stacks when none.
using Corpus = std::optional<Script>;

// The cases of one corpus run one after another, so one history at a time
// is kept.
const std::vector<ClipItem>& history(Corpus corpus, std::size_t size) {
    static std::vector<ClipItem> items;
    static std::pair<Corpus, std::size_t> made;
    if (!items.empty() && made == std::pair(corpus, size)) {
        return items;
    }
    items.clear();
    made = {corpus, size};
    for (unsigned i = 0; i < kHistoryCapacity; ++i) {
        std::string text = corpus ? bench::prose(*corpus, size, i + 1) : markStacks(size, i);
        std::array<std::uint8_t, 16> id{};
        id[0] = static_cast<std::uint8_t>(i + 1);
        items.push_back({Uuid(id), Text(std::move(text))});
        benchmark::DoNotOptimize(items.back().text.searchKey(platform::defaultCaseRules()));
    }
    return items;
}

// 0xFE is never part of UTF-8, and keys hold 0xFF for malformed bytes.
std::size_t memchrPass(const std::vector<ClipItem>& items) {
    const platform::CaseRules rules = platform::defaultCaseRules();
    std::size_t hits = 0;
    for (const auto& item : items) {
        const std::string_view key = item.text.searchKey(rules);
        hits += std::memchr(key.data(), 0xfe, key.size()) != nullptr;
    }
    return hits;
}

std::size_t memmemPass(const std::vector<ClipItem>& items, std::string_view query) {
    std::size_t hits = 0;
    for (const auto& item : items) {
        const std::string_view bytes = item.text.bytes();
        hits += memmem(bytes.data(), bytes.size(), query.data(), query.size()) != nullptr;
    }
    return hits;
}

enum class Way { Filter, Memmem, Memchr };

void run(benchmark::State& state, Way way, Corpus corpus, std::string_view query) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const auto& items = history(corpus, size);
    if (!filterItems(items, query).empty()) {
        state.SkipWithError("setup: the query should match nothing");
    }
    const double start = bench::cpuSeconds();
    for (auto _ : state) {
        switch (way) {
            case Way::Filter:
                benchmark::DoNotOptimize(filterItems(items, query));
                break;
            case Way::Memmem:
                benchmark::DoNotOptimize(memmemPass(items, query));
                break;
            case Way::Memchr:
                benchmark::DoNotOptimize(memchrPass(items));
                break;
        }
    }
    const double spent = (bench::cpuSeconds() - start) / static_cast<double>(state.iterations());
    // The floor, right after the case on the same keys.
    constexpr int kPasses = 20;
    const double floorStart = bench::cpuSeconds();
    for (int i = 0; i < kPasses; ++i) {
        benchmark::DoNotOptimize(memchrPass(items));
    }
    state.counters["x_memchr"] = spent / ((bench::cpuSeconds() - floorStart) / kPasses);
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * kHistoryCapacity * state.range(0)));
}

struct Case {
    std::string name;
    Corpus corpus;
    std::string_view query;
};

std::vector<Case> cases() {
    std::vector<Case> out;
    for (const Script script : bench::kScripts) {
        const std::string name = bench::nameOf(script);
        out.push_back({name + "Query_" + name + "Text", script, bench::absentQueryOf(script)});
    }
    const std::string_view ascii = bench::absentQueryOf(Script::English);
    const std::string_view cyrillic = bench::absentQueryOf(Script::Russian);
    out.push_back({"EnglishQuery_RussianText", Script::Russian, ascii});
    out.push_back({"RussianQuery_EnglishText", Script::English, cyrillic});
    out.push_back({"EnglishQuery_MarkStacks", std::nullopt, ascii});
    return out;
}

}  // namespace
}  // namespace brimlet

int main(int argc, char** argv) {
    using brimlet::Way;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    constexpr std::pair<Way, const char*> kWays[] = {
        {Way::Filter, ""}, {Way::Memmem, "_Baseline_memmem"}, {Way::Memchr, "_Floor_memchr"}};
    // 50 entries of 64 KB, and of 1 MB.
    for (const int size : {64 << 10, 1 << 20}) {
        for (const auto& c : brimlet::cases()) {
            for (const auto& [way, suffix] : kWays) {
                benchmark::RegisterBenchmark(
                    ("BM_Filter_" + c.name + suffix).c_str(),
                    [way = way, c](benchmark::State& state) { run(state, way, c.corpus, c.query); })
                    ->Arg(size)
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
