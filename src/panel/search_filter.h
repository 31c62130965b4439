// Narrowing the history by a search text.
#pragma once

#include <string_view>
#include <vector>

#include "history/clip_item.h"

namespace brimlet {

// The entries whose text contains `query`, trimmed of spaces and tabs, in
// the history's order; every entry when the trimmed query is empty. The test
// ignores case under the user's locale and honours canonical equivalence;
// diacritics and width count. A match never ends inside a combining sequence.
// Texts that are not valid UTF-8 are searched up to their malformed bytes,
// which match nothing; a query that is not valid UTF-8 is looked for byte by
// byte.
[[nodiscard]] std::vector<ClipItem> filterItems(const std::vector<ClipItem>& items,
                                                std::string_view query);

// The matcher behind filterItems, open to tests.
namespace search_detail {

// filterItems with memmem in place of ByteSearch: the plain search that the
// fast one must agree with.
[[nodiscard]] std::vector<ClipItem> filterItemsPlain(const std::vector<ClipItem>& items,
                                                     std::string_view query);

// True when the search key `key` holds `needle`, a query's search key, at a
// place where a match may end.
[[nodiscard]] bool keyContains(std::string_view key, std::string_view needle);

// True when a match may end right before `c`: not a combining mark, not a
// joiner, and not a character that composes with what precedes it.
[[nodiscard]] bool startsCluster(char32_t c);

}  // namespace search_detail
}  // namespace brimlet
