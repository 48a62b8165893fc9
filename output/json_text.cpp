#include "output/json_text.h"

#include <charconv>
#include <cstdint>

namespace ondevice::json {
namespace {

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0 when it is not one
// (overlong forms, surrogates and code points past U+10FFFF included).
size_t validSequenceLength(std::string_view s) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
  const auto continuation = [&](size_t i) { return i < s.size() && (byte(i) & 0xC0) == 0x80; };
  const uint8_t lead = byte(0);
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (!continuation(1) || !continuation(2)) return 0;
    if (lead == 0xE0 && byte(1) < 0xA0) return 0;  // overlong
    if (lead == 0xED && byte(1) > 0x9F) return 0;  // surrogate
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
    if (lead == 0xF0 && byte(1) < 0x90) return 0;  // overlong
    if (lead == 0xF4 && byte(1) > 0x8F) return 0;  // past U+10FFFF
    return 4;
  }
  return 0;
}

}  // namespace

void appendString(std::string& out, std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  out.push_back('"');
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const size_t length = validSequenceLength(text.substr(i));
      if (length == 0) {
        out.append("\xEF\xBF\xBD");  // U+FFFD
        ++i;
      } else {
        out.append(text.substr(i, length));
        i += length;
      }
      continue;
    }
    switch (c) {
      case '"': out.append("\\\""); break;
      case '\\': out.append("\\\\"); break;
      case '/': out.append("\\/"); break;
      case '\b': out.append("\\b"); break;
      case '\f': out.append("\\f"); break;
      case '\n': out.append("\\n"); break;
      case '\r': out.append("\\r"); break;
      case '\t': out.append("\\t"); break;
      default:
        if (c < 0x20) {
          out.append("\\u00");
          out.push_back(hex[c >> 4]);
          out.push_back(hex[c & 0xF]);
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
    ++i;
  }
  out.push_back('"');
}

void appendNumber(std::string& out, double value) {
  // std::to_chars without a format gives the shortest text that round-trips, which is also a
  // valid JSON number for every finite double ("0.1", "1250.5", "5e-05", "1e+300", "-0").
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, end);
}

}  // namespace ondevice::json
