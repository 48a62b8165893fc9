#include "output/json_text.h"

#include <charconv>

namespace ondevice::json {

void appendString(std::string& out, std::string_view text) {
  out.push_back('"');
  escapeString(text, [&out](std::string_view piece) { out.append(piece); });
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
