#pragma once
// What the binary writes, and matchers for how a run of it ended.
//
//   EXPECT_THAT(runBinary({"version"}), Prints(kVersionRecord));
//   EXPECT_THAT(runBinary({"bogus"}), FailsWith("Unsupported command: bogus"));
//   EXPECT_THAT(r, FailsWith(StartsWith("Download of assets for en_US failed: ")));
//   EXPECT_THAT(r, EndsWithOneRecord());  // whatever it was given

#include <gmock/gmock.h>

#include <string>

#include "tests/support/process.h"

namespace ondevice::testing {

inline const std::string kVersionRecord =
    "{\"backend\":\"SpeechAnalyzer\",\"minimumMacOS\":\"26.0\"}\n";
inline const std::string kPreparedRecord = "{\"language\":\"en_US\",\"prepared\":true}\n";

// "" when the run ended on its own with status 0 and one record line on standard output, or
// with status 1 and one error record line ({"error": a text that is not empty}) on standard
// error, and nothing else on either stream. Otherwise what is wrong.
std::string oneRecordProblem(const ProcessResult& r);

// The decoded text of `key` in the record of a run (a value that is no string as JSON), or
// what stands in its way ("<not JSON>", "<no key>").
std::string recordField(const ProcessResult& r, const std::string& key);

MATCHER(EndsWithOneRecord, "ends on its own with one record") {
  const std::string problem = oneRecordProblem(arg);
  *result_listener << problem;
  return problem.empty();
}

// Status 1, nothing on standard output, and one error record whose text matches `text` (a
// string or a matcher of one).
MATCHER_P(FailsWith, text,
          std::string(negation ? "does not fail" : "fails") + " with an error that " +
              ::testing::DescribeMatcher<std::string>(text)) {
  if (arg.exitStatus != 1 || !arg.out.empty() || !oneRecordProblem(arg).empty()) {
    *result_listener << "which is no failure with one error record";
    if (arg.exitStatus == 1) *result_listener << ": " << oneRecordProblem(arg);
    return false;
  }
  const std::string error = recordField(arg, "error");
  *result_listener << "whose error is \"" << error << "\" ";
  return ::testing::ExplainMatchResult(text, error, result_listener);
}

// Status 0, exactly `record` on standard output and nothing on standard error.
MATCHER_P(Prints, record, std::string(negation ? "does not print " : "prints ") + record) {
  return arg.exitStatus == 0 && arg.out == record && arg.err.empty();
}

}  // namespace ondevice::testing
