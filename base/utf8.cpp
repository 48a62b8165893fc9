#include "base/utf8.h"

#include <algorithm>
#include <cstdint>

namespace ondevice {

std::optional<Utf8Sequence> decodeUtf8(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const auto continuation = [&](std::size_t i) {
    return i < text.size() && (byte(i) & 0xC0) == 0x80;
  };
  const std::uint8_t lead = byte(0);
  if (lead < 0x80) return Utf8Sequence{lead, 1};
  if (lead >= 0xC2 && lead <= 0xDF) {
    if (!continuation(1)) return std::nullopt;
    return Utf8Sequence{static_cast<char32_t>(((lead & 0x1F) << 6) | (byte(1) & 0x3F)), 2};
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (!continuation(1) || !continuation(2)) return std::nullopt;
    if (lead == 0xE0 && byte(1) < 0xA0) return std::nullopt;  // overlong
    if (lead == 0xED && byte(1) > 0x9F) return std::nullopt;  // a surrogate
    return Utf8Sequence{static_cast<char32_t>(((lead & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) |
                                              (byte(2) & 0x3F)),
                        3};
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (!continuation(1) || !continuation(2) || !continuation(3)) return std::nullopt;
    if (lead == 0xF0 && byte(1) < 0x90) return std::nullopt;  // overlong
    if (lead == 0xF4 && byte(1) > 0x8F) return std::nullopt;  // past U+10FFFF
    return Utf8Sequence{static_cast<char32_t>(((lead & 0x07) << 18) | ((byte(1) & 0x3F) << 12) |
                                              ((byte(2) & 0x3F) << 6) | (byte(3) & 0x3F)),
                        4};
  }
  return std::nullopt;
}

std::optional<Utf8Sequence> decodeUtf8Before(std::string_view text, std::size_t end) {
  for (std::size_t length = 1; length <= std::min<std::size_t>(4, end); ++length) {
    const auto decoded = decodeUtf8(text.substr(end - length, length));
    if (decoded && decoded->length == length) return decoded;
  }
  return std::nullopt;
}

bool isValidUtf8(std::string_view text) {
  while (!text.empty()) {
    const auto decoded = decodeUtf8(text);
    if (!decoded) return false;
    text.remove_prefix(decoded->length);
  }
  return true;
}

}  // namespace ondevice
