#include "output/json_text.h"

#include <charconv>

#include "base/utf8.h"

namespace ondevice::json {

void appendString(std::string& out, std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  out.push_back('"');
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      if (const auto decoded = decodeUtf8(text.substr(i))) {
        out.append(text.substr(i, decoded->length));
        i += decoded->length;
      } else {
        out.append("\xEF\xBF\xBD");  // U+FFFD
        ++i;
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
