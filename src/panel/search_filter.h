// Narrowing the history by a search text.
#pragma once

#include <string_view>
#include <vector>

#include "history/clip_item.h"

namespace brimlet {

// The entries whose text contains `query`, trimmed of spaces and tabs, in
// the history's order; every entry when the trimmed query is empty. The test
// ignores case under the user's locale and honours canonical equivalence;
// diacritics and width count.
[[nodiscard]] std::vector<ClipItem> filterItems(const std::vector<ClipItem>& items,
                                                std::string_view query);

}  // namespace brimlet
