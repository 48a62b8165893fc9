// The strict JSON reader that the hostile-input tests and the fuzzers trust: it must refuse
// what a host's parser would choke on, or their checks could not fail.

#include "tests/support/json_check.h"

#include <gtest/gtest.h>

#include "tests/support/case_name.h"

namespace ondevice::testing {
namespace {

struct RecordLine {
  std::string stream;
  bool accepted;
};

class JsonCheckRecordLine : public ::testing::TestWithParam<RecordLine> {};

TEST_P(JsonCheckRecordLine, AcceptsOnlyOneRecordLine) {
  EXPECT_EQ(checkRecordLine(GetParam().stream).empty(), GetParam().accepted)
      << checkRecordLine(GetParam().stream);
}

const RecordLine kRecordLines[] = {
    {"{\"error\":\"a \\\"b\\\" \\/ \\u00e9 \\ud834\\udd1e\"}\n", true},
    {"{\"a\":[1,-0,2.5e-3,{\"b\":null}],\"c\":true}\n", true},
    {"{}\n", true},
    {"", false},
    {"{\"a\":1}", false},                   // no line feed
    {"{\"a\":1}\n\n", false},               // two lines
    {"{\"a\":1}\n{\"a\":1}\n", false},      // two records
    {"{\"a\": 1}\n", false},                // not compact
    {"{\"b\":1,\"a\":2}\n", false},         // keys out of order
    {"{\"a\":1,\"a\":2}\n", false},         // repeated key
    {"[1]\n", false},                       // not an object
    {"{\"a\":\"\x01\"}\n", false},          // raw control character
    {"{\"a\":\"\xFF\"}\n", false},          // not UTF-8
    {"{\"a\":\"\xED\xA0\x80\"}\n", false},  // an encoded surrogate
    {"{\"a\":\"\\ud834\"}\n", false},       // a lone surrogate escape
    {"{\"a\":\"\\x41\"}\n", false},         // unknown escape
    {"{\"a\":01}\n", false},                // leading zero
    {"{\"a\":1.}\n", false},
    {"{\"a\":NaN}\n", false},
    {"{\"a\":tru}\n", false},
    {"{\"a\":1,}\n", false},
};
INSTANTIATE_TEST_SUITE_P(, JsonCheckRecordLine, ::testing::ValuesIn(kRecordLines),
                         numberedBy<&RecordLine::stream>);

TEST(JsonCheck, DecodesWhatItReads) {
  const auto parsed = parseJson(R"({"t":"\u00e9\ud834\udd1e\n","n":-1.5e2,"l":[true,null]})");
  ASSERT_TRUE(parsed.value) << parsed.error;
  EXPECT_EQ(parsed.value->at("t"), "\xC3\xA9\xF0\x9D\x84\x9E\n");
  EXPECT_EQ(parsed.value->at("n").get<double>(), -150.0);
  EXPECT_EQ(parsed.value->at("l").size(), 2u);
  EXPECT_FALSE(parseJson(R"({"a":1,"a":2})").value) << "a repeated key";
}

}  // namespace
}  // namespace ondevice::testing
