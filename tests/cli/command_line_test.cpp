// The binary as a host sees it: exact bytes on each stream and the exit status.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/support/binary_records.h"
#include "tests/support/case_name.h"
#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tests/support/sanitizer_build.h"

namespace ondevice {
namespace {

using testing::kPreparedRecord;
using testing::kVersionRecord;
using testing::Prints;
using testing::runBinary;
using testing::Stream;

std::string errorLine(const std::string& message) { return "{\"error\":\"" + message + "\"}\n"; }

struct Dispatch {
  std::vector<std::string> arguments;
  int status;
  std::string out;
  std::string err;
};

class CommandLineDispatch : public ::testing::TestWithParam<Dispatch> {};

TEST_P(CommandLineDispatch, WritesExactly) {
  const auto r = runBinary(GetParam().arguments);
  EXPECT_EQ(r.exitStatus, GetParam().status);
  EXPECT_EQ(r.out, GetParam().out);
  EXPECT_EQ(r.err, GetParam().err);
}

const Dispatch kDispatches[] = {
    {{"version"}, 0, kVersionRecord, ""},
    {{"version", "--language", "xx", "stray", "--no-prepare", "--"}, 0, kVersionRecord, ""},
    {{}, 1, "", errorLine("Missing required argument: command")},
    {{"Version"}, 1, "", errorLine("Unsupported command: Version")},
    {{"--version"}, 1, "", errorLine("Unsupported command: --version")},
    {{"version "}, 1, "", errorLine("Unsupported command: version ")},
    {{""}, 1, "", errorLine("Unsupported command: ")},
    {{"say \"/\"\t"}, 1, "", errorLine("Unsupported command: say \\\"\\/\\\"\\t")},
    {{"transcribe"}, 1, "", errorLine("Missing required argument: file")},
    // The file test comes before anything else: the language is not looked at.
    {{"transcribe", "--language", "zz_ZZ", "--no-prepare"},
     1,
     "",
     errorLine("Missing required argument: file")},
    {{"transcribe", "--file"}, 1, "", errorLine("Missing required argument: file")},
    {{"transcribe", "--file", "--no-prepare"}, 1, "", errorLine("Missing required argument: file")},
    // Unsupported languages: is-available answers, the others fail naming the host's text.
    {{"is-available", "--language", "de_DE"},
     0,
     "{\"available\":false,\"language\":\"de_DE\"}\n",
     ""},
    {{"is-available", "--language", ""}, 0, "{\"available\":false,\"language\":\"\"}\n", ""},
    {{"prepare", "--language", "de_DE"}, 1, "", errorLine("Locale not supported: de_DE")},
    // English written in another script is another locale.
    {{"is-available", "--language", "en-Cyrl-US"},
     0,
     "{\"available\":false,\"language\":\"en-Cyrl-US\"}\n",
     ""},
    {{"prepare", "--language", "en-Arab"}, 1, "", errorLine("Locale not supported: en-Arab")},
    {{"prepare", "--language", "fr_FR", "--language", "xx"},
     1,
     "",
     errorLine("Locale not supported: xx")},
    {{"transcribe", "--file", "/nonexistent/a b.wav", "--language", "de_DE"},
     1,
     "",
     errorLine("Locale not supported: de_DE")},
    {{"transcribe", "--file", "/nonexistent/a b.wav", "--no-prepare"},
     1,
     "",
     errorLine("Invalid audio file: \\/nonexistent\\/a b.wav")},
    // "--no-prepare yes" is an option, so preparation stays on; the language flag means
    // the default language.
    {{"transcribe", "--file", "/nonexistent/x.wav", "--no-prepare", "yes", "--language"},
     1,
     "",
     errorLine("Invalid audio file: \\/nonexistent\\/x.wav")},
    {{"bad\xff\xfe"}, 1, "", errorLine("Unsupported command: bad\xEF\xBF\xBD\xEF\xBF\xBD")},
};
INSTANTIATE_TEST_SUITE_P(, CommandLineDispatch, ::testing::ValuesIn(kDispatches),
                         testing::numberedBy<&Dispatch::arguments>);

struct Spelling {
  std::string language;
};

class CommandLineEnglish : public ::testing::TestWithParam<Spelling> {};

TEST_P(CommandLineEnglish, AnswersForEnglishInThisSpelling) {
  EXPECT_THAT(runBinary({"is-available", "--language", GetParam().language}),
              Prints("{\"available\":true,\"language\":\"en_US\"}\n"));
  EXPECT_THAT(runBinary({"prepare", "--language", GetParam().language}), Prints(kPreparedRecord));
}

INSTANTIATE_TEST_SUITE_P(, CommandLineEnglish,
                         ::testing::Values(Spelling{"en_US"}, Spelling{"en-US"}, Spelling{"EN-us"},
                                           Spelling{"en_US.UTF-8"}, Spelling{"en"}),
                         testing::numberedBy<&Spelling::language>);

TEST(CommandLine, PreparesEnglishWithoutALanguage) {
  EXPECT_EQ(runBinary({"prepare"}).out, kPreparedRecord);
}

// Standard output is a pipe whose reader is already gone, or a full device: the write fails,
// which fails the run (status 1, never a death by SIGPIPE).
TEST(CommandLine, ClosedOutputStaysAFailedWriteNotASignal) {
  testing::ProcessOptions readerGone;
  readerGone.output = Stream::readerGone();
  EXPECT_EQ(runBinary({"version"}, readerGone).exitStatus, 1);
  readerGone.error = Stream::readerGone();
  EXPECT_EQ(runBinary({"nope"}, readerGone).exitStatus, 1);
  testing::ProcessOptions full;
  full.output = Stream::file("/dev/full");
  EXPECT_EQ(runBinary({"version"}, full).exitStatus, 1);
}

// Runs that share one output, eight at a time as `xargs -P 8` starts them: each record arrives
// whole, never with another run's record inside it, on a file they append to and on a pipe.
struct SharedOutput {
  enum class Where { appendedFile, outputPipe, errorPipe };
  std::string name;
  std::string command;  // the binary's arguments
  Where where;
  std::string record;  // what each run writes
};

class ParallelRuns : public ::testing::TestWithParam<SharedOutput> {};

TEST_P(ParallelRuns, NeverSplitARecord) {
  // Before each record was one write, about one line in fifty broke. A sanitizer's build runs
  // fewer: each of its runs costs ten times as much.
  constexpr int kRuns = testing::kSanitizerBuild ? 200 : 1000;
  const SharedOutput& c = GetParam();
  using Where = SharedOutput::Where;
  testing::ScratchDirectory scratch;
  const std::string file = (scratch.path() / "records.jsonl").string();
  const std::string stream = c.record.starts_with("{\"error\"") ? "2" : "";
  const auto r = testing::runProcess(
      {"/bin/sh", "-c",
       "seq " + std::to_string(kRuns) + " | xargs -P 8 -n 1 '" + testing::binaryPath() + "' " +
           c.command + (c.where == Where::appendedFile ? " " + stream + ">>'" + file + "'" : "")});
  const std::string records = c.where == Where::appendedFile ? testing::readText(file)
                              : c.where == Where::outputPipe ? r.out
                                                             : r.err;
  std::string expected;
  for (int i = 0; i < kRuns; ++i) expected += c.record;
  EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), kRuns);
  // Not EXPECT_EQ: a failure names where the records first break rather than printing them.
  EXPECT_TRUE(records == expected)
      << kRuns << " records of " << c.record << "break at byte "
      << std::mismatch(records.begin(), records.end(), expected.begin(), expected.end()).first -
             records.begin();
}

const SharedOutput kSharedOutputs[] = {
    {"results appended to one file", "version", SharedOutput::Where::appendedFile, kVersionRecord},
    {"results on one pipe", "version", SharedOutput::Where::outputPipe, kVersionRecord},
    {"errors appended to one file", "nope", SharedOutput::Where::appendedFile,
     errorLine("Unsupported command: nope")},
    {"errors on one pipe", "nope", SharedOutput::Where::errorPipe,
     errorLine("Unsupported command: nope")},
};
INSTANTIATE_TEST_SUITE_P(, ParallelRuns, ::testing::ValuesIn(kSharedOutputs),
                         testing::namedBy<&SharedOutput::name>);

}  // namespace
}  // namespace ondevice
