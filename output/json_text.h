#pragma once
// Building blocks of the JSON text: strings and numbers in the forms the tool writes.

#include <cstddef>
#include <string>
#include <string_view>

#include "base/utf8.h"

namespace ondevice::json {

namespace detail {

// The two-character escape JSON has for a byte (\" \\ \/ \b \f \n \r \t); empty for others.
constexpr std::string_view shortEscape(unsigned char c) {
  switch (c) {
    case '"':
      return "\\\"";
    case '\\':
      return "\\\\";
    case '/':
      return "\\/";
    case '\b':
      return "\\b";
    case '\f':
      return "\\f";
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\t':
      return "\\t";
    default:
      return {};
  }
}

}  // namespace detail

// Passes the escaped form of `text` (the inside of a JSON string, without its quotation marks)
// to `append`, as std::string_view pieces in order: quotation mark, reverse solidus, solidus and
// U+0000..U+001F escaped; bytes that are not valid UTF-8 become U+FFFD, one per byte, so the
// result is always valid UTF-8. Allocates nothing and calls nothing but `append` and the strict
// UTF-8 decoder, so it is async-signal-safe wherever `append` is (the exit guard writes its
// record with it).
template <typename Append>
void escapeString(std::string_view text, Append&& append) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::size_t plain = 0;  // start of the run of bytes that stand for themselves
  std::size_t i = 0;
  // Ends the run before byte i, which is written as `replacement`.
  const auto replaceByte = [&](std::string_view replacement) {
    if (i > plain) append(text.substr(plain, i - plain));
    append(replacement);
    plain = ++i;
  };
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      if (const auto decoded = decodeUtf8(text.substr(i))) {
        i += decoded->length;
      } else {
        replaceByte("\xEF\xBF\xBD");  // U+FFFD
      }
    } else if (const std::string_view escape = detail::shortEscape(c); !escape.empty()) {
      replaceByte(escape);
    } else if (c < 0x20) {
      const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
      replaceByte(std::string_view(escape, sizeof escape));
    } else {
      ++i;
    }
  }
  if (i > plain) append(text.substr(plain, i - plain));
}

// Appends `text` as a JSON string, quotation marks included, escaped as escapeString() does.
void appendString(std::string& out, std::string_view text);

// Appends the shortest decimal form that reads back as exactly `value`. The caller has checked
// that the value is finite.
void appendNumber(std::string& out, double value);

}  // namespace ondevice::json
