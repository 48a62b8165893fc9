// The JSON writer on records built from arbitrary bytes: texts of any bytes, doubles of any bit
// pattern, any number of segments.
//
// Checked: a record with a non-finite number throws and nothing else does; every other record
// is one compact object with its keys in order, which a strict reader accepts; every text that
// is valid UTF-8 reads back exactly, every other text reads back as valid UTF-8; every number
// reads back to the same bits.

#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "output/json_writer.h"
#include "output/records.h"
#include "tests/fuzz/fuzz_check.h"
#include "base/utf8.h"
#include "tests/support/json_check.h"

namespace {

using ondevice::testing::Json;

struct Reader {
  FuzzedDataProvider& input;
  bool sawNonFinite = false;

  std::string text() { return input.ConsumeRandomLengthString(64); }
  double number() {
    const double value = std::bit_cast<double>(input.ConsumeIntegral<uint64_t>());
    if (!std::isfinite(value)) sawNonFinite = true;
    return value;
  }
};

const Json& member(const Json& object, const char* key) {
  FUZZ_CHECK(object.contains(key), std::string("missing key ") + key);
  return object.at(key);
}

void expectText(const Json& value, const std::string& original) {
  FUZZ_CHECK(value.is_string(), "not a string");
  if (ondevice::isValidUtf8(original)) {
    FUZZ_CHECK(value.get<std::string>() == original, "text changed: " + value.dump());
  }
}

// Bit for bit, but for the sign of a zero: the reader takes "-0" for the integer 0.
void expectNumber(const Json& value, double original) {
  FUZZ_CHECK(value.is_number(), "not a number");
  const double read = value.get<double>();
  FUZZ_CHECK(std::bit_cast<uint64_t>(read) == std::bit_cast<uint64_t>(original) ||
                 (read == 0 && original == 0 && value.is_number_integer()),
             "number changed: " + value.dump());
}

void expectBoolean(const Json& value, bool original) {
  FUZZ_CHECK(value.is_boolean() && value.get<bool>() == original, "boolean");
}

// Serializes `record`; returns the parsed object, or none when serialization threw.
template <typename Record>
std::optional<Json> written(const Record& record, bool hasNonFinite) {
  std::string text;
  try {
    text = ondevice::serializeJSON(record);
  } catch (const ondevice::JSONSerializationError&) {
    FUZZ_CHECK(hasNonFinite, "threw for finite numbers");
    return std::nullopt;
  }
  FUZZ_CHECK(!hasNonFinite, "wrote a non-finite number: " + text);
  const std::string problem = ondevice::testing::checkRecordLine(text + "\n");
  FUZZ_CHECK(problem.empty(), problem + ": " + text);
  return ondevice::testing::parseJson(text).value;
}

void transcription(Reader& in) {
  const std::string language = in.text();
  const std::string result = in.text();
  std::vector<ondevice::Segment> segments;
  const size_t count = in.input.ConsumeIntegralInRange<size_t>(0, 8);
  for (size_t i = 0; i < count; ++i) {
    std::string text = in.text();
    const double t0 = in.number();
    const double t1 = in.number();
    segments.emplace_back(std::move(text), t0, t1);
  }
  const double duration = in.number();
  const bool isAborted = in.input.ConsumeBool();
  const ondevice::TranscriptionOutput record(language, result, segments, duration, isAborted);
  const auto json = written(record, in.sawNonFinite);
  if (!json) return;
  FUZZ_CHECK(json->size() == 5, "key count");
  expectText(member(*json, "language"), language);
  expectText(member(*json, "result"), result);
  expectNumber(member(*json, "duration"), duration);
  expectBoolean(member(*json, "isAborted"), isAborted);
  const Json& list = member(*json, "segments");
  FUZZ_CHECK(list.is_array() && list.size() == segments.size(), "segments");
  for (size_t i = 0; i < segments.size(); ++i) {
    const Json& segment = list[i];
    FUZZ_CHECK(segment.is_object() && segment.size() == 3, "segment");
    expectText(member(segment, "text"), segments[i].text);
    expectNumber(member(segment, "t0"), segments[i].t0);
    expectNumber(member(segment, "t1"), segments[i].t1);
  }
}

// The records with a text and a boolean, or two texts.
void smallRecord(Reader& in, int kind) {
  const std::string first = in.text();
  const std::string second = in.text();
  const bool flag = in.input.ConsumeBool();
  std::optional<Json> json;
  switch (kind) {
    case 0:
      json = written(ondevice::ErrorOutput(first), false);
      FUZZ_CHECK(json->size() == 1, "key count");
      expectText(member(*json, "error"), first);
      break;
    case 1:
      json = written(ondevice::VersionOutput(first, second), false);
      FUZZ_CHECK(json->size() == 2, "key count");
      expectText(member(*json, "backend"), first);
      expectText(member(*json, "minimumMacOS"), second);
      break;
    case 2:
      json = written(ondevice::AvailabilityOutput(flag, first), false);
      FUZZ_CHECK(json->size() == 2, "key count");
      expectBoolean(member(*json, "available"), flag);
      expectText(member(*json, "language"), first);
      break;
    default:
      json = written(ondevice::PrepareOutput(flag, first), false);
      FUZZ_CHECK(json->size() == 2, "key count");
      expectBoolean(member(*json, "prepared"), flag);
      expectText(member(*json, "language"), first);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  Reader reader{input};
  const int kind = input.ConsumeIntegralInRange(0, 4);
  if (kind == 4) {
    transcription(reader);
  } else {
    smallRecord(reader, kind);
  }
  return 0;
}
