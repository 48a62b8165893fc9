#pragma once
// Strict UTF-8: well-formed sequences only (RFC 3629), so overlong forms, encoded surrogates and
// code points past U+10FFFF are never taken for characters.
//
//   decodeUtf8("\xC3\xA9!")   // {U+00E9, 2}
//   decodeUtf8("\xC0\xAF")    // nullopt (overlong "/")

#include <cstddef>
#include <optional>
#include <string_view>

namespace ondevice {

struct Utf8Sequence {
  char32_t codePoint;
  std::size_t length;  // bytes, 1 to 4
};

// The character encoded at the start of `text`; none when the bytes there are not one.
std::optional<Utf8Sequence> decodeUtf8(std::string_view text);

// The character whose encoding ends exactly at `end`; none when the bytes there are not one.
std::optional<Utf8Sequence> decodeUtf8Before(std::string_view text, std::size_t end);

bool isValidUtf8(std::string_view text);

}  // namespace ondevice
