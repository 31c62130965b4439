// STRING, the oldest clipboard text type, is ISO 8859-1 by definition.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brimlet::platform {

[[nodiscard]] std::string latin1ToUtf8(std::string_view bytes);
// Nothing when the bytes are not UTF-8 or hold characters ISO 8859-1 lacks.
[[nodiscard]] std::optional<std::string> utf8ToLatin1(std::string_view utf8);

}  // namespace brimlet::platform
