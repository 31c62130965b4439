// A query and up to eight texts of any bytes: the filter keeps exactly the
// entries that a plain std::string_view::find of the query's key finds in
// their search keys, at a place where a match may end (and, for a query that
// starts inside a cluster, only at the start).
#include "panel/search_filter.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

namespace platform = brimlet::platform;
using brimlet::search_detail::startsCluster;

bool clusterStartsAt(std::string_view s, std::size_t at) {
    if (at >= s.size()) {
        return true;
    }
    const std::int32_t c = platform::decodeUtf8(s, at);
    return c < 0 || startsCluster(static_cast<char32_t>(c));
}

bool found(const brimlet::Text& text, std::string_view query) {
    const std::string_view needle = platform::trimSpacesAndTabs(query);
    if (needle.empty()) {
        return true;
    }
    if (!platform::isValidUtf8(needle)) {
        return text.bytes().find(needle) != std::string_view::npos;
    }
    const std::string key = platform::searchKeyOf(needle, platform::defaultCaseRules());
    const std::string_view hay = text.searchKey(platform::defaultCaseRules());
    const bool startsInside = !clusterStartsAt(key, 0);
    for (std::size_t at = hay.find(key); at != std::string_view::npos; at = hay.find(key, at + 1)) {
        if ((at == 0 || !startsInside) && clusterStartsAt(hay, at + key.size())) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string query = input.ConsumeRandomLengthString(64);
    std::vector<brimlet::ClipItem> items;
    while (input.remaining_bytes() > 0 && items.size() < 8) {
        items.push_back({brimlet::Uuid{}, brimlet::Text(input.ConsumeRandomLengthString())});
    }
    const std::vector<brimlet::ClipItem> kept = brimlet::filterItems(items, query);
    auto next = kept.begin();
    for (const brimlet::ClipItem& item : items) {
        const bool keeps = next != kept.end() && next->text.sharesStorageWith(item.text);
        if (keeps != found(item.text, query)) {
            __builtin_trap();
        }
        next += keeps ? 1 : 0;
    }
    if (next != kept.end()) {
        __builtin_trap();
    }
    return 0;
}
