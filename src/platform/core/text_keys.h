// The keys texts are compared and searched by, made with ICU: the text in
// Stream-Safe form, then canonically composed (equality) or case-folded and
// decomposed (search). Shared by the texts and the search matcher.
#pragma once

#include <unicode/normalizer2.h>
#include <unicode/stringpiece.h>

#include <string>
#include <string_view>

#include "platform/core/text.h"

namespace brimlet::platform {

enum class KeyForm { Canonical, Folded, FoldedTurkic };

[[nodiscard]] KeyForm foldedUnder(CaseRules rules);
// `s` in Stream-Safe form, in `buffer` if that needed joiners.
[[nodiscard]] std::string_view streamSafe(std::string_view s, std::string& buffer);
// One key of any bytes in Stream-Safe form; malformed bytes stay apart.
[[nodiscard]] std::string makeKey(std::string_view safe, KeyForm form);

[[nodiscard]] icu::StringPiece stringPiece(std::string_view s);

// All come with ICU's built-in data; without it nothing here can work, so a
// missing one ends the process.
[[nodiscard]] const icu::Normalizer2& nfcNormalizer();
[[nodiscard]] const icu::Normalizer2& nfdNormalizer();
// Compatibility decompositions, which the Stream-Safe process counts in.
[[nodiscard]] const icu::Normalizer2& nfkdNormalizer();

}  // namespace brimlet::platform
