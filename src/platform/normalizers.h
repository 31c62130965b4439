// ICU's canonical normalisers, shared by the text rules and the search.
#pragma once

#include <unicode/normalizer2.h>

namespace brimlet::platform {

// Both come with ICU's built-in data; without it nothing here can work, so
// a missing one ends the process.
[[nodiscard]] const icu::Normalizer2& nfcNormalizer();
[[nodiscard]] const icu::Normalizer2& nfdNormalizer();

}  // namespace brimlet::platform
