// ICU's normalisers, shared by the text rules and the search.
#pragma once

#include <unicode/normalizer2.h>

namespace brimlet::platform {

// All come with ICU's built-in data; without it nothing here can work, so a
// missing one ends the process.
[[nodiscard]] const icu::Normalizer2& nfcNormalizer();
[[nodiscard]] const icu::Normalizer2& nfdNormalizer();
// Compatibility decompositions, which the Stream-Safe process counts in.
[[nodiscard]] const icu::Normalizer2& nfkdNormalizer();

}  // namespace brimlet::platform
