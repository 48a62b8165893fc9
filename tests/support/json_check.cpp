#include "tests/support/json_check.h"

#include <algorithm>
#include <vector>

namespace ondevice::testing {
namespace {

// Follows a strict parse and stops it at an object with a repeated key, or, when asked, with
// keys out of ascending byte order (std::string compares bytes as unsigned).
class KeyCheck final : public nlohmann::json_sax<Json> {
 public:
  explicit KeyCheck(bool ascending) : ascending_(ascending) {}

  std::string problem;

  bool start_object(std::size_t) override {
    open_.emplace_back();
    return true;
  }
  bool key(string_t& key) override {
    std::vector<std::string>& seen = open_.back();
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
      problem = "repeated key \"" + key + "\"";
      return false;
    }
    if (ascending_ && !seen.empty() && !(seen.back() < key)) {
      problem = "keys out of order at \"" + key + "\"";
      return false;
    }
    seen.push_back(key);
    return true;
  }
  bool end_object() override {
    open_.pop_back();
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) override {
    problem = error.what();
    return false;
  }

  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_array(std::size_t) override { return true; }
  bool end_array() override { return true; }

 private:
  bool ascending_;
  std::vector<std::vector<std::string>> open_;  // keys so far of each open object
};

// The offset of the first whitespace outside strings, if any.
std::optional<size_t> whitespaceBetweenTokens(std::string_view text) {
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      return i;
    }
  }
  return std::nullopt;
}

JsonParse parse(std::string_view text, bool compact, bool ascendingKeys) {
  if (compact) {
    if (const auto at = whitespaceBetweenTokens(text)) {
      return {std::nullopt, "whitespace at byte " + std::to_string(*at)};
    }
  }
  KeyCheck check(ascendingKeys);
  if (!Json::sax_parse(text, &check, nlohmann::json::input_format_t::json, /*strict=*/true)) {
    return {std::nullopt, check.problem};
  }
  return {Json::parse(text), ""};
}

}  // namespace

JsonParse parseJson(std::string_view text, bool compact) { return parse(text, compact, false); }

std::string checkRecordLine(std::string_view stream) {
  if (stream.empty()) return "nothing was written";
  if (stream.back() != '\n') return "the record does not end in a line feed";
  const std::string_view line = stream.substr(0, stream.size() - 1);
  if (line.find('\n') != std::string_view::npos) return "more than one line";
  const JsonParse parsed = parse(line, /*compact=*/true, /*ascendingKeys=*/true);
  if (!parsed.value) return "not JSON: " + parsed.error;
  if (!parsed.value->is_object()) return "not a JSON object";
  return "";
}

}  // namespace ondevice::testing
