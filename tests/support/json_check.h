#pragma once
// A strict JSON reader for checking what the tool writes: RFC 8259 exactly (nlohmann's strict
// parser: UTF-8 checked, no lone surrogates, no leading zeros, nothing after the value), objects
// with a repeated key refused, plus the tool's own form of a record: one compact object on one
// line, keys in ascending order at every level.
//
//   auto problem = checkRecordLine(r.err);          // "" when r.err is one record line
//   auto parsed = parseJson(R"({"a":[1,"x"]})");
//   parsed.value->at("a")[1];                       // "x"
//
// Independent of the tool's writer, so that the two can be checked against each other.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace ondevice::testing {

using Json = nlohmann::ordered_json;  // members in written order

struct JsonParse {
  std::optional<Json> value;
  std::string error;  // set when value is empty: what is wrong
};

// Parses `text` as exactly one JSON value. With `compact`, no whitespace is allowed between
// tokens either.
JsonParse parseJson(std::string_view text, bool compact = false);

// "" when `stream` is one record as the tool writes it: a compact JSON object whose keys are in
// ascending byte order at every level, then one line feed, and nothing else. Otherwise what
// is wrong.
std::string checkRecordLine(std::string_view stream);

}  // namespace ondevice::testing
