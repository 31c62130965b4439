// Narrowing the history by a search text.
#pragma once

#include <string>
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

// The matcher behind filterItems, open to tests so that its shortcuts can be
// checked against the general route.
namespace search_detail {

enum class Route {
    Automatic,  // shortcuts where they give the same answer
    General,    // always the normalising matcher
};

// True when `text` contains `needle` (already trimmed) under the rules of
// filterItems and the current default locale.
[[nodiscard]] bool contains(const Text& text, std::string_view needle,
                            Route route = Route::Automatic);

// The comparison form of valid UTF-8: case folded (Turkic rules when asked),
// then NFC.
[[nodiscard]] std::string matchKey(std::string_view utf8, bool turkic);

// True when a match may end right before `c`: not a combining mark, not a
// joiner, and not a character that composes with what precedes it.
[[nodiscard]] bool startsCluster(char32_t c);

// Non-ASCII characters whose comparison form contains ASCII (the Kelvin sign,
// long s, sharp s, ligatures, ...). Their presence keeps an ASCII search
// from taking the byte-scanning shortcut.
[[nodiscard]] bool foldsTowardAscii(char32_t c);

// True for characters whose decomposition holds U+0345, the one combining
// mark that case folding turns into a base letter.
[[nodiscard]] bool needsDecompositionBeforeFolding(char32_t c);

}  // namespace search_detail
}  // namespace brimlet
