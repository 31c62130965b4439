#include "panel/search_filter.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/byte_search.h"
#include "platform/core/text.h"
#include "platform/core/text_keys.h"

// Every entry keeps its search key (Text::searchKey: case folded, then NFC),
// so a keystroke only makes the query's key and scans the entries' keys with
// ByteSearch, at about the speed of reading them. Folding keeps accents and
// the full-width forms apart, which is what the panel wants. A collator
// search (usearch) was not used: at secondary strength it ignores width as
// well as case, at tertiary it keeps case, and it skips ignorable characters
// such as U+00AD, so none of its settings gives "case only".

namespace brimlet {
namespace search_detail {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// Looks for one needle with ByteSearch, or with memmem alone.
class Finder {
  public:
    Finder(std::string_view needle, bool fast) : needle_(needle) {
        if (fast) {
            search_.emplace(needle);
        }
    }
    [[nodiscard]] std::string_view needle() const { return needle_; }
    [[nodiscard]] std::size_t find(std::string_view hay, std::size_t from) const {
        return search_ ? search_->find(hay, from)
                       : platform::byte_search_detail::findPlain(hay, needle_, from);
    }

  private:
    std::string_view needle_;
    std::optional<platform::ByteSearch> search_;
};

// A match may end at `end`: the end, ASCII, a malformed byte's stand-in, or
// the start of a cluster.
bool endsCluster(std::string_view key, std::size_t end) {
    if (end >= key.size() || static_cast<unsigned char>(key[end]) < 0x80) {
        return true;
    }
    const std::int32_t c = platform::decodeUtf8(key, end);
    return c < 0 || startsCluster(static_cast<char32_t>(c));
}

// Knuth-Morris-Pratt from `from` on: never looks at a byte twice, however
// many occurrences end inside a combining sequence.
bool containsFrom(std::string_view key, std::string_view needle, std::size_t from) {
    std::vector<std::size_t> failure(needle.size(), 0);
    for (std::size_t i = 1, k = 0; i < needle.size(); ++i) {
        while (k > 0 && needle[i] != needle[k]) {
            k = failure[k - 1];
        }
        k += needle[i] == needle[k] ? 1 : 0;
        failure[i] = k;
    }
    std::size_t matched = 0;
    for (std::size_t pos = from; pos < key.size(); ++pos) {
        while (matched > 0 && key[pos] != needle[matched]) {
            matched = failure[matched - 1];
        }
        matched += key[pos] == needle[matched] ? 1 : 0;
        if (matched == needle.size()) {
            if (endsCluster(key, pos + 1)) {
                return true;
            }
            matched = failure[matched - 1];
        }
    }
    return false;
}

}  // namespace

bool startsCluster(char32_t c) {
    if (c < 0x80) {
        return true;
    }
    if (c == 0x200C || c == 0x200D) {
        return false;
    }
    const auto cp = static_cast<UChar32>(c);
    return (U_GET_GC_MASK(cp) & U_GC_M_MASK) == 0 &&
           platform::nfcNormalizer().hasBoundaryBefore(cp);
}

namespace {

bool containsWith(std::string_view key, const Finder& finder) {
    const std::string_view needle = finder.needle();
    if (needle.empty()) {
        return true;
    }
    // A query that starts inside a cluster matches only at a text's start.
    std::size_t first = 0;
    const std::int32_t c = platform::decodeUtf8(needle, first);
    if (c >= 0 && !startsCluster(static_cast<char32_t>(c))) {
        return key.starts_with(needle) && endsCluster(key, needle.size());
    }
    // An occurrence that ends inside a cluster costs the search about the
    // needle again; once that adds up to the key's length, finish in one pass.
    std::size_t spent = 0;
    for (std::size_t at = finder.find(key, 0); at != npos; at = finder.find(key, at + 1)) {
        if (endsCluster(key, at + needle.size())) {
            return true;
        }
        spent += needle.size();
        if (spent > key.size()) {
            return containsFrom(key, needle, at + 1);
        }
    }
    return false;
}

std::vector<ClipItem> filterWith(const std::vector<ClipItem>& items, std::string_view query,
                                 bool fast) {
    const std::string_view needle = platform::trimSpacesAndTabs(query);
    if (needle.empty()) {
        return items;
    }
    std::vector<ClipItem> result;
    const auto keep = [&](auto passes) {
        std::copy_if(items.begin(), items.end(), std::back_inserter(result), passes);
    };
    if (!platform::isValidUtf8(needle)) {
        const Finder finder(needle, fast);
        keep([&](const ClipItem& item) { return finder.find(item.text.bytes(), 0) != npos; });
        return result;
    }
    const platform::CaseRules rules = platform::defaultCaseRules();
    const std::string key = platform::searchKeyOf(needle, rules);
    const Finder finder(key, fast);
    keep([&](const ClipItem& item) { return containsWith(item.text.searchKey(rules), finder); });
    return result;
}

}  // namespace

bool keyContains(std::string_view key, std::string_view needle) {
    return containsWith(key, Finder(needle, true));
}

std::vector<ClipItem> filterItemsPlain(const std::vector<ClipItem>& items, std::string_view query) {
    return filterWith(items, query, false);
}

}  // namespace search_detail

std::vector<ClipItem> filterItems(const std::vector<ClipItem>& items, std::string_view query) {
    return search_detail::filterWith(items, query, true);
}

}  // namespace brimlet
