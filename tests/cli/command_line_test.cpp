// The binary as a host sees it: exact bytes on each stream and the exit status.

#include <gtest/gtest.h>

#include "tests/support/process.h"

namespace ondevice {
namespace {

using testing::runBinary;

const std::string kVersion = "{\"backend\":\"SpeechAnalyzer\",\"minimumMacOS\":\"26.0\"}\n";

std::string errorLine(const std::string& message) { return "{\"error\":\"" + message + "\"}\n"; }

TEST(CommandLine, Dispatch) {
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string out;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"version"}, 0, kVersion, ""},
      {{"version", "--language", "xx", "stray", "--no-prepare", "--"}, 0, kVersion, ""},
      {{}, 1, "", errorLine("Missing required argument: command")},
      {{"Version"}, 1, "", errorLine("Unsupported command: Version")},
      {{"--version"}, 1, "", errorLine("Unsupported command: --version")},
      {{"version "}, 1, "", errorLine("Unsupported command: version ")},
      {{""}, 1, "", errorLine("Unsupported command: ")},
      {{"say \"/\"\t"}, 1, "", errorLine("Unsupported command: say \\\"\\/\\\"\\t")},
      {{"transcribe"}, 1, "", errorLine("Missing required argument: file")},
      // The file test comes before anything else: the language is not looked at.
      {{"transcribe", "--language", "zz_ZZ", "--no-prepare"}, 1, "",
       errorLine("Missing required argument: file")},
      {{"transcribe", "--file"}, 1, "", errorLine("Missing required argument: file")},
      {{"transcribe", "--file", "--no-prepare"}, 1, "",
       errorLine("Missing required argument: file")},
      // Unsupported languages: is-available answers, the others fail naming the host's text.
      {{"is-available", "--language", "de_DE"}, 0,
       "{\"available\":false,\"language\":\"de_DE\"}\n", ""},
      {{"is-available", "--language", ""}, 0, "{\"available\":false,\"language\":\"\"}\n", ""},
      {{"prepare", "--language", "de_DE"}, 1, "", errorLine("Locale not supported: de_DE")},
      {{"prepare", "--language", "fr_FR", "--language", "xx"}, 1, "",
       errorLine("Locale not supported: xx")},
      {{"transcribe", "--file", "/nonexistent/a b.wav", "--language", "de_DE"}, 1, "",
       errorLine("Locale not supported: de_DE")},
      {{"transcribe", "--file", "/nonexistent/a b.wav", "--no-prepare"}, 1, "",
       errorLine("Invalid audio file: \\/nonexistent\\/a b.wav")},
      // "--no-prepare yes" is an option, so preparation stays on; the language flag means
      // the default language.
      {{"transcribe", "--file", "/nonexistent/x.wav", "--no-prepare", "yes", "--language"}, 1, "",
       errorLine("Invalid audio file: \\/nonexistent\\/x.wav")},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& a : c.arguments) shown += "[" + a + "]";
    SCOPED_TRACE(shown);
    const auto r = runBinary(c.arguments);
    EXPECT_EQ(r.exitStatus, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
}

TEST(CommandLine, AnswersForEnglishInItsManySpellings) {
  for (const std::string language : {"en_US", "en-US", "EN-us", "en_US.UTF-8", "en"}) {
    const auto available = runBinary({"is-available", "--language", language});
    EXPECT_EQ(available.exitStatus, 0);
    EXPECT_EQ(available.out, "{\"available\":true,\"language\":\"en_US\"}\n") << language;
    const auto prepared = runBinary({"prepare", "--language", language});
    EXPECT_EQ(prepared.exitStatus, 0);
    EXPECT_EQ(prepared.out, "{\"language\":\"en_US\",\"prepared\":true}\n") << language;
    EXPECT_EQ(prepared.err, "");
  }
  EXPECT_EQ(runBinary({"prepare"}).out, "{\"language\":\"en_US\",\"prepared\":true}\n");
}

TEST(CommandLine, ArgumentsThatAreNotUtf8StayValidJson) {
  const auto r = runBinary({"bad\xff\xfe"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err, errorLine("Unsupported command: bad\xEF\xBF\xBD\xEF\xBF\xBD"));
}

TEST(CommandLine, ClosedOutputStaysAFailedWriteNotASignal) {
  // Standard output is a pipe whose reader is already gone, or a full device: the write fails,
  // which fails the run (status 1, never a death by SIGPIPE).
  const char* script =
      "import os, subprocess, sys\n"
      "r, w = os.pipe(); os.close(r)\n"
      "print(subprocess.run([sys.argv[1], 'version'], stdout=w).returncode)\n"
      "print(subprocess.run([sys.argv[1], 'nope'], stdout=w, stderr=w).returncode)\n"
      "with open('/dev/full', 'wb') as full:\n"
      "    print(subprocess.run([sys.argv[1], 'version'], stdout=full).returncode)\n";
  const auto r = testing::runProcess({"python3", "-c", script, testing::binaryPath()});
  EXPECT_EQ(r.out, "1\n1\n1\n");
}

}  // namespace
}  // namespace ondevice
