#include "engine/text_trimming.h"

#include "base/utf8.h"

namespace ondevice {
namespace {

bool isWhitespaceOrNewline(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

}  // namespace

std::string trimWhitespaceAndNewlines(std::string_view text) {
  while (!text.empty()) {
    const auto first = decodeUtf8(text);
    if (!first || !isWhitespaceOrNewline(first->codePoint)) break;
    text.remove_prefix(first->length);
  }
  while (!text.empty()) {
    const auto last = decodeUtf8Before(text, text.size());
    if (!last || !isWhitespaceOrNewline(last->codePoint)) break;
    text.remove_suffix(last->length);
  }
  return std::string(text);
}

}  // namespace ondevice
