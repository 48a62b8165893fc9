#pragma once
// Trimming of recognised text: white space and newlines (Unicode category Z, U+0009..U+000D and
// U+0085) come off both ends of a UTF-8 text; nothing inside it changes.

#include <string>
#include <string_view>

namespace ondevice {

std::string trimWhitespaceAndNewlines(std::string_view text);

}  // namespace ondevice
