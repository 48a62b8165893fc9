#include "engine/text_trimming.h"

#include <cstdint>
#include <optional>

namespace ondevice {
namespace {

bool isWhitespaceOrNewline(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

struct Decoded {
  char32_t codePoint;
  size_t length;
};

// The code point encoded at `at`, if the bytes there form one (the set above is all in the
// first three bytes of UTF-8, so longer sequences never need decoding here).
std::optional<Decoded> decodeAt(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[at + i]); };
  const size_t left = text.size() - at;
  if (byte(0) < 0x80) return Decoded{byte(0), 1};
  if ((byte(0) & 0xE0) == 0xC0 && left >= 2 && (byte(1) & 0xC0) == 0x80) {
    return Decoded{static_cast<char32_t>(((byte(0) & 0x1F) << 6) | (byte(1) & 0x3F)), 2};
  }
  if ((byte(0) & 0xF0) == 0xE0 && left >= 3 && (byte(1) & 0xC0) == 0x80 &&
      (byte(2) & 0xC0) == 0x80) {
    return Decoded{static_cast<char32_t>(((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) |
                                         (byte(2) & 0x3F)),
                   3};
  }
  return std::nullopt;
}

// Start of the UTF-8 sequence that ends just before `end`.
size_t sequenceStartBefore(std::string_view text, size_t end) {
  size_t start = end - 1;
  while (start > 0 && end - start < 4 && (static_cast<uint8_t>(text[start]) & 0xC0) == 0x80) {
    --start;
  }
  return start;
}

}  // namespace

std::string trimWhitespaceAndNewlines(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size()) {
    const auto decoded = decodeAt(text, begin);
    if (!decoded || !isWhitespaceOrNewline(decoded->codePoint)) break;
    begin += decoded->length;
  }
  size_t end = text.size();
  while (end > begin) {
    const size_t start = sequenceStartBefore(text, end);
    const auto decoded = decodeAt(text, start);
    if (!decoded || start + decoded->length != end ||
        !isWhitespaceOrNewline(decoded->codePoint)) {
      break;
    }
    end = start;
  }
  return std::string(text.substr(begin, end - begin));
}

}  // namespace ondevice
