// The binary against what a host hands it directly: malformed and enormous arguments,
// standard streams that are closed, lead to a pipe without reader, or to files that may not
// grow, and a small stack.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "tests/cli/hostile_input.h"
#include "tests/support/asset_test_support.h"
#include "tests/support/binary_records.h"
#include "tests/support/case_name.h"
#include "tests/support/files.h"
#include "tests/support/json_check.h"
#include "tests/support/sanitizer_build.h"
#include "tests/support/speech_test_support.h"

namespace ondevice::testing::hostile {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::Field;

// ---------------------------------------------------------------------------------------------
// Arguments

struct Arguments {
  std::vector<std::string> arguments;
  int status;
  std::string key;       // a field of the record to check, "" for none
  std::string expected;  // its decoded value
};

class HostileArguments : public ::testing::TestWithParam<Arguments> {};

TEST_P(HostileArguments, EndWithOneRecord) {
  const ProcessResult r = run(GetParam().arguments);
  ASSERT_THAT(r, EndsWithOneRecord());
  EXPECT_EQ(r.exitStatus, GetParam().status);
  if (!GetParam().key.empty()) {
    EXPECT_EQ(recordField(r, GetParam().key), GetParam().expected);
  }
}

const std::string kHuge(100000, 'x');  // most of what one argument may hold (128 KiB)
const std::string kHugePath = "/nonexistent/" + std::string(100000 - 13, 'p');
const Arguments kArguments[] = {
    // Bytes that are not UTF-8 reach the host as U+FFFD, one per byte.
    {{"\xFF\xFE\x80"},
     1,
     "error",
     "Unsupported command: " + kReplacement + kReplacement + kReplacement},
    {{"is-available", "--language", "en\xC3(US"}, 0, "language", "en" + kReplacement + "(US"},
    {{"prepare", "--language", "\xED\xA0\x80"},
     1,
     "error",
     "Locale not supported: " + kReplacement + kReplacement + kReplacement},
    {{kHuge}, 1, "error", "Unsupported command: " + kHuge},
    {{"is-available", "--language", kHuge}, 0, "language", kHuge},
    {{"transcribe", "--no-prepare", "--file", kHugePath},
     1,
     "error",
     "Invalid audio file: " + kHugePath},
    {{"--"}, 1, "error", "Unsupported command: --"},
    {{"version", "--"}, 0, "backend", "SpeechAnalyzer"},
    {{"transcribe", "--"}, 1, "error", "Missing required argument: file"},
    {{""}, 1, "error", "Unsupported command: "},
    {{"", "", ""}, 1, "error", "Unsupported command: "},
    {{"is-available", "", "--language", ""}, 0, "language", ""},
    {{"transcribe", "--file", "", "--language", ""}, 1, "error", "Locale not supported: "},
    {{"transcribe", "--file", "", "--no-prepare"}, 1, "error", "Invalid audio file: "},
    // "--no-prepare" followed by "" is an option, so preparation runs for en_US first.
    {{"transcribe", "", "--", "", "--file", "", "--no-prepare", ""},
     1,
     "error",
     "Invalid audio file: "},
};
INSTANTIATE_TEST_SUITE_P(, HostileArguments, ::testing::ValuesIn(kArguments),
                         numberedBy<&Arguments::arguments>);

TEST(HostileInput, HundredThousandArguments) {
  std::vector<std::string> flags{"version"};
  for (int i = 0; flags.size() < 100000; ++i) flags.push_back("--key" + std::to_string(i));
  const ProcessResult version = run(flags);
  EXPECT_THAT(version, EndsWithOneRecord());
  EXPECT_EQ(version.out, kVersionRecord);

  // The last of 49 999 --file options wins.
  std::vector<std::string> files{"transcribe", "--no-prepare"};
  for (int i = 0; files.size() < 100000; ++i) {
    files.push_back("--file");
    files.push_back("/nonexistent/" + std::to_string(i));
  }
  EXPECT_THAT(run(files), FailsWith("Invalid audio file: /nonexistent/49998"));
}

// ---------------------------------------------------------------------------------------------
// Standard streams

// Ended on its own, by an exit with `status`, not by a signal.
auto exitedWith(int status) {
  return AllOf(Field(&ProcessResult::timedOut, false), Field(&ProcessResult::signal, 0),
               Field(&ProcessResult::exitStatus, status));
}

struct Gone {
  std::string name;
  Stream stream;
};
const Gone kGone[] = {{"closed", Stream::closed()}, {"reader gone", Stream::readerGone()}};

struct Command {
  std::string name;
  std::vector<std::string> arguments;
};

class StandardOutputGone : public ::testing::TestWithParam<std::tuple<Gone, Command>> {};

// A result that cannot be written is a failure, reported on standard error.
TEST_P(StandardOutputGone, FailsTheRunWithAnErrorRecord) {
  ProcessOptions options;
  options.output = std::get<Gone>(GetParam()).stream;
  const ProcessResult r = run(std::get<Command>(GetParam()).arguments, options);
  EXPECT_THAT(r, exitedWith(1));
  EXPECT_EQ(checkRecordLine(r.err), "") << r.err;
}

const Command kCommands[] = {
    {"version", {"version"}},
    {"is-available", {"is-available"}},
    {"transcribe", {"transcribe", "--no-prepare", "--file", kSpeechFile}},
};
INSTANTIATE_TEST_SUITE_P(, StandardOutputGone,
                         ::testing::Combine(::testing::ValuesIn(kGone),
                                            ::testing::ValuesIn(kCommands)),
                         [](const auto& info) {
                           return caseName(std::get<Gone>(info.param).name + " " +
                                           std::get<Command>(info.param).name);
                         });

TEST(HostileInput, AFailureWithStandardOutputClosedIsStillReported) {
  ProcessOptions options;
  options.output = Stream::closed();
  const ProcessResult failed = run({"bogus"}, options);
  EXPECT_EQ(failed.exitStatus, 1);
  EXPECT_EQ(failed.err, "{\"error\":\"Unsupported command: bogus\"}\n");
}

class StandardErrorGone : public ::testing::TestWithParam<Gone> {};

TEST_P(StandardErrorGone, ChangesNothingElse) {
  ProcessOptions options;
  options.error = GetParam().stream;
  const ProcessResult ok = run({"version"}, options);
  EXPECT_THAT(ok, exitedWith(0));
  EXPECT_EQ(ok.out, kVersionRecord);

  const ProcessResult failed =
      run({"transcribe", "--no-prepare", "--file", "/nonexistent.wav"}, options);
  EXPECT_THAT(failed, exitedWith(1));
  EXPECT_EQ(failed.out, "");
}

INSTANTIATE_TEST_SUITE_P(, StandardErrorGone, ::testing::ValuesIn(kGone), namedBy<&Gone::name>);

// Every file the tool opens then lands on 0, 1 or 2; none of them may receive the record.
class AllStreamsClosed : public ::testing::TestWithParam<Command> {};

TEST_P(AllStreamsClosed, LeaveTheAudioFileAlone) {
  ScratchDirectory scratch;
  const fs::path copy = scratch.path() / "speech.wav";
  fs::copy_file(kSpeechFile, copy);
  std::vector<std::string> arguments = GetParam().arguments;
  if (arguments.back() == "--file") arguments.push_back(copy.string());
  ProcessOptions options;
  options.input = options.output = options.error = Stream::closed();
  EXPECT_THAT(run(arguments, options), exitedWith(1));
  EXPECT_EQ(readText(copy), readText(kSpeechFile));
}

// A trailing --file is given the test's copy of the speech.
const Command kClosedCommands[] = {
    {"transcribe without preparing", {"transcribe", "--no-prepare", "--file"}},
    {"transcribe", {"transcribe", "--file"}},
    {"bogus", {"bogus"}},
};
INSTANTIATE_TEST_SUITE_P(, AllStreamsClosed, ::testing::ValuesIn(kClosedCommands),
                         namedBy<&Command::name>);

// Standard output and standard error go to files under a 1 KiB size limit: a record that does
// not fit fails the run (status 1, never a death by SIGXFSZ), and no part of it stays behind
// in the file.
struct SizeLimit {
  std::string name;
  std::vector<std::string> arguments;
  bool oneFileForBoth;  // appended to; otherwise each stream replaces a file of its own
  std::string before;   // what the output file holds at the start
  int status;
  std::string out;
  std::string err;
};

class FileSizeLimit : public ::testing::TestWithParam<SizeLimit> {};

TEST_P(FileSizeLimit, FailsTheRunAndLeavesNoPartOfTheRecord) {
  const SizeLimit& c = GetParam();
  ScratchDirectory scratch;
  const fs::path out = scratch.path() / "out";
  const fs::path err = scratch.path() / "err";
  writeText(out, c.before);
  writeText(err, "");
  ProcessOptions options;
  options.output = Stream::file(out, /*append=*/c.oneFileForBoth);
  options.error = c.oneFileForBoth ? Stream::sameAsOutput() : Stream::file(err);
  options.limits[RLIMIT_FSIZE] = 1024;
  EXPECT_THAT(run(c.arguments, options), exitedWith(c.status));
  EXPECT_EQ(readText(out), c.out);
  EXPECT_EQ(readText(err), c.err);
}

const std::string kLanguage(3000, 'x');
const std::string kTooLarge =
    "{\"error\":\"Unable to write the result to standard output: File too large\"}\n";
const SizeLimit kSizeLimits[] = {
    {"a record that fits", {"version"}, false, "", 0, kVersionRecord, ""},
    {"a result that does not fit",
     {"is-available", "--language", kLanguage},
     false,
     "",
     1,
     "",
     kTooLarge},
    // Nothing can be reported: the status alone says the run failed.
    {"an error record that does not fit",
     {"prepare", "--language", kLanguage},
     false,
     "",
     1,
     "",
     ""},
    // Both streams appending to one file that already holds a line: the line stays, the
    // partial result goes, the error record follows the line.
    {"one file for both streams",
     {"is-available", "--language", kLanguage},
     true,
     "an earlier line\n",
     1,
     "an earlier line\n" + kTooLarge,
     ""},
};
INSTANTIATE_TEST_SUITE_P(, FileSizeLimit, ::testing::ValuesIn(kSizeLimits),
                         namedBy<&SizeLimit::name>);

// ---------------------------------------------------------------------------------------------
// Stack limits

// A host that starts the tool with a small stack (ulimit -s): every command works. glibc gives
// new threads stacks of the limit's size unless told otherwise, and a 64 KiB buffer on the main
// thread's stack (the catalog's read) ended every command with a fault and no record.
class SmallStack : public ::testing::TestWithParam<std::tuple<rlim_t, Command>> {};

// A catalog file naming the system model, and a store, in `dir`: the commands read the file.
ProcessOptions withCatalogFile(const fs::path& dir) {
  assets::CatalogLine line;
  line.system = assets::kSystemModel;
  writeText(dir / "catalog.json", assets::catalogJson({line}));
  ProcessOptions options;
  options.environment = {{"ONDEVICE_STT_CATALOG", (dir / "catalog.json").string()},
                         {"ONDEVICE_STT_ASSETS", (dir / "store").string()}};
  return options;
}

TEST_P(SmallStack, EveryCommandWorks) {
  ScratchDirectory scratch;
  ProcessOptions options = withCatalogFile(scratch.path());
  options.limits[RLIMIT_STACK] = std::get<rlim_t>(GetParam()) << 10;
  std::vector<std::string> arguments = std::get<Command>(GetParam()).arguments;
  if (arguments.back() == "--file") {  // two seconds of speech: a decoder thread loads the model
    const fs::path clip = scratch.path() / "speech.wav";
    speech::sox({kSpeechFile, clip.string(), "trim", "0", "2"});
    arguments.push_back(clip.string());
  }
  const ProcessResult r = run(arguments, options);
  EXPECT_THAT(r, EndsWithOneRecord());
  EXPECT_EQ(r.exitStatus, 0) << r.err;
}

const Command kStackCommands[] = {
    {"version", {"version"}},
    {"is-available", {"is-available"}},
    {"prepare", {"prepare"}},
    {"transcribe", {"transcribe", "--file"}},
};
INSTANTIATE_TEST_SUITE_P(, SmallStack,
                         ::testing::Combine(::testing::Values(64, 128, 256),
                                            ::testing::ValuesIn(kStackCommands)),
                         [](const auto& info) {
                           return caseName(std::to_string(std::get<rlim_t>(info.param)) + " KiB " +
                                           std::get<Command>(info.param).name);
                         });

// A stack too small for the main thread's own work: the fault still ends the run with one
// record, written from a stack of the handler's own.
TEST(HostileInput, AStackThatRunsOutStillGivesOneRecord) {
  if (kSanitizerBuild) GTEST_SKIP() << "a sanitizer's runtime needs more stack than this to start";
  ScratchDirectory scratch;
  ProcessOptions options = withCatalogFile(scratch.path());
  options.limits[RLIMIT_STACK] = 20u << 10;
  EXPECT_THAT(run({"transcribe", "--no-prepare", "--file", kSpeechFile}, options),
              EndsWithOneRecord());
}

}  // namespace
}  // namespace ondevice::testing::hostile
