// The JSON text hosts parse: worked examples byte for byte, numbers that read back exactly,
// escapes, and what happens to bytes on the stream.

#include "output/json_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "output/helper_error.h"
#include "tests/support/case_name.h"

namespace ondevice {
namespace {

using ::testing::ContainsRegex;

TEST(JsonWriter, WorkedExamples) {
  const Segment hello("Hello", 0, 1250.5);
  const Segment world("world", 1250.5, 2750);
  EXPECT_EQ(serializeJSON(hello), R"({"t0":0,"t1":1250.5,"text":"Hello"})");
  EXPECT_EQ(serializeJSON(TranscriptionOutput("en_US", "Hello world", {hello, world}, 2.75, false)),
            R"({"duration":2.75,"isAborted":false,"language":"en_US","result":"Hello world",)"
            R"("segments":[{"t0":0,"t1":1250.5,"text":"Hello"},{"t0":1250.5,"t1":2750,)"
            R"("text":"world"}]})");
  EXPECT_EQ(serializeJSON(AvailabilityOutput(true, "en_US")),
            R"({"available":true,"language":"en_US"})");
  EXPECT_EQ(serializeJSON(PrepareOutput(true, "en_US")), R"({"language":"en_US","prepared":true})");
  EXPECT_EQ(serializeJSON(VersionOutput("SpeechAnalyzer", "26.0")),
            R"({"backend":"SpeechAnalyzer","minimumMacOS":"26.0"})");
  EXPECT_EQ(serializeJSON(ErrorOutput("Missing required argument: command")),
            R"({"error":"Missing required argument: command"})");
}

TEST(JsonWriter, EmptyTranscriptKeepsEveryKey) {
  EXPECT_EQ(serializeJSON(TranscriptionOutput("en_US", "", {}, 0.0, false)),
            R"({"duration":0,"isAborted":false,"language":"en_US","result":"","segments":[]})");
}

class JsonWriterDouble : public ::testing::TestWithParam<double> {};

TEST_P(JsonWriterDouble, ReadsBackExactly) {
  const std::string text = serializeJSON(Segment("", GetParam(), GetParam()));
  const auto start = text.find(":") + 1;
  const std::string number = text.substr(start, text.find(',') - start);
  const double back = std::strtod(number.c_str(), nullptr);
  EXPECT_EQ(std::bit_cast<uint64_t>(back), std::bit_cast<uint64_t>(GetParam())) << number;
  EXPECT_THAT(number, ContainsRegex("^[-+.e0-9]+$"));
}

INSTANTIATE_TEST_SUITE_P(, JsonWriterDouble,
                         ::testing::Values(0.1, 1.0 / 3.0, 1250.5, 0.00005, 1e300, 5e-324, -0.0,
                                           1e21, 123456789012345678.0, 2.75, -1.5e-7,
                                           std::numeric_limits<double>::max(), 0.30000000000000004),
                         [](const auto& info) {
                           return std::to_string(info.index) + "_" +
                                  testing::caseName(::testing::PrintToString(info.param));
                         });

TEST(JsonWriter, NonFiniteNumbersThrow) {
  for (const double bad : {std::nan(""), std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity()}) {
    EXPECT_THROW(serializeJSON(TranscriptionOutput("en_US", "", {Segment("a", 0, bad)}, 1, false)),
                 JSONSerializationError);
    EXPECT_THROW(serializeJSON(TranscriptionOutput("en_US", "", {}, bad, false)),
                 JSONSerializationError);
  }
}

struct Escape {
  std::string text;
  std::string json;
};

class JsonWriterEscape : public ::testing::TestWithParam<Escape> {};

TEST_P(JsonWriterEscape, EscapesTheString) {
  EXPECT_EQ(serializeJSON(ErrorOutput(GetParam().text)), "{\"error\":" + GetParam().json + "}");
}

const Escape kEscapes[] = {
    {"say \"hi\"", R"("say \"hi\"")"},
    {"back\\slash", R"("back\\slash")"},
    {"/tmp/a b.wav", R"("\/tmp\/a b.wav")"},
    {"tab\there", R"("tab\there")"},
    {"line\nfeed\r", R"("line\nfeed\r")"},
    {std::string("nul\0end", 7), R"("nul\u0000end")"},
    {"\x1f\x01\x7f", "\"\\u001f\\u0001\x7f\""},
    {"café ☕ 𝄞", "\"café ☕ 𝄞\""},
    // Bytes that are not UTF-8 become U+FFFD, one per byte; what is valid stays.
    {"a\xff" "b", "\"a\xEF\xBF\xBD" "b\""},
    {"\xc3", "\"\xEF\xBF\xBD\""},
    {"\xc0\xaf", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},           // overlong "/"
    {"\xed\xa0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // surrogate
    {"\xf4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
};
INSTANTIATE_TEST_SUITE_P(, JsonWriterEscape, ::testing::ValuesIn(kEscapes),
                         testing::numberedBy<&Escape::text>);

TEST(JsonWriter, HelperErrorMessages) {
  using C = HelperError::Case;
  EXPECT_EQ(HelperError(C::missingArgument, "command").errorDescription(),
            "Missing required argument: command");
  EXPECT_EQ(HelperError(C::unsupportedCommand, "").errorDescription(), "Unsupported command: ");
  EXPECT_EQ(HelperError(C::unsupportedLocale, " de_DE ").errorDescription(),
            "Locale not supported:  de_DE ");
  EXPECT_EQ(HelperError(C::invalidAudio, "/tmp/a b.wav").errorDescription(),
            "Invalid audio file: /tmp/a b.wav");
  EXPECT_EQ(HelperError(C::assetUnsupported, "en_US").errorDescription(),
            "Assets not supported for locale: en_US");
  EXPECT_EQ(HelperError(C::unsupportedPlatform).errorDescription(),
            "Apple SpeechAnalyzer requires macOS 26.0 or newer.");
  EXPECT_EQ(HelperError(C::unknownAssetStatus).errorDescription(),
            "Unknown asset inventory status.");
}

// Captures what writeJSON puts on standard output, write by write.
class StandardOutputCapture {
 public:
  StandardOutputCapture() {
    EXPECT_EQ(pipe(fds_), 0);
    saved_ = dup(STDOUT_FILENO);
    dup2(fds_[1], STDOUT_FILENO);
  }
  std::string finish() {
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    close(fds_[1]);
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = read(fds_[0], buffer, sizeof buffer)) > 0;) out.append(buffer, n);
    close(fds_[0]);
    return out;
  }

 private:
  int fds_[2];
  int saved_;
};

TEST(JsonWriter, WritesOneLineOrNothing) {
  StandardOutputCapture good;
  writeJSON(PrepareOutput(true, "en_US"));
  EXPECT_EQ(good.finish(), "{\"language\":\"en_US\",\"prepared\":true}\n");

  StandardOutputCapture bad;
  EXPECT_THROW(
      writeJSON(TranscriptionOutput("en_US", "x", {Segment("x", std::nan(""), 1)}, 1, false)),
      JSONSerializationError);
  EXPECT_EQ(bad.finish(), "");
}

}  // namespace
}  // namespace ondevice
