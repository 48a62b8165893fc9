#pragma once
// A strict JSON reader for checking what the tool writes: RFC 8259 exactly (UTF-8 checked, no
// lone surrogates, no leading zeros, nothing after the value), plus the tool's own form of a
// record: one compact object on one line, keys unique and in ascending order.
//
//   auto problem = checkRecordLine(r.err);          // "" when r.err is one record line
//   auto parsed = parseJson(R"({"a":[1,"x"]})");
//   parsed.value->find("a")->items[1].text;        // "x"
//
// Independent of the tool's writer, so that the two can be checked against each other.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ondevice::testing {

struct JsonMember;

struct JsonValue {
  enum class Kind { null, boolean, number, string, array, object };

  Kind kind = Kind::null;
  bool boolean = false;
  double number = 0;  // for numbers, read with strtod
  std::string text;   // a string's decoded UTF-8, or a number's text as written
  std::vector<JsonValue> items;
  std::vector<JsonMember> members;  // in written order

  const JsonValue* find(std::string_view key) const;
};

struct JsonMember {
  std::string key;
  JsonValue value;
};

struct JsonParse {
  std::optional<JsonValue> value;
  std::string error;  // set when value is empty: what is wrong and at which byte
};

// Parses `text` as exactly one JSON value. With `compact`, no whitespace is allowed between
// tokens either. Objects with a repeated key are refused.
JsonParse parseJson(std::string_view text, bool compact = false);

// "" when `stream` is one record as the tool writes it: a compact JSON object whose keys are in
// ascending byte order at every level, then one line feed, and nothing else. Otherwise what
// is wrong.
std::string checkRecordLine(std::string_view stream);

bool isValidUtf8(std::string_view text);

}  // namespace ondevice::testing
