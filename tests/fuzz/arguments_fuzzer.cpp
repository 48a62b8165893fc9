// Argument parsing and dispatch on arbitrary argument lists, against the scripted platform.
//
// Input: a first byte that picks the platform's script (asset status, failures, whether the file
// exists, what the analysis delivers), then the arguments, separated by NUL bytes.
//
// Checked: parsing fails only for an empty list and keeps the command word as given; a value is
// never a key; dispatch either writes exactly one record line to standard output or throws one
// of the tool's error types and writes nothing; "version" always writes the same record.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/dispatch.h"
#include "output/helper_error.h"
#include "output/json_writer.h"
#include "platform/api/platform_error.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/json_check.h"
#include "tests/support/scripted_platform.h"

namespace {

using ondevice::platform::AssetStatus;
using ondevice::platform::MediaTime;
using ondevice::platform::TimeRange;
using ondevice::platform::TranscriptionResult;

// run() writes to file descriptor 1; it is pointed at a memory file that each input reads back.
int capturedOutput = -1;

std::string takeCapturedOutput() {
  std::string text;
  char buffer[4096];
  off_t at = 0;
  for (;;) {
    const ssize_t n = ::pread(capturedOutput, buffer, sizeof buffer, at);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
    at += n;
  }
  FUZZ_CHECK(::ftruncate(capturedOutput, 0) == 0, "ftruncate");
  FUZZ_CHECK(::lseek(capturedOutput, 0, SEEK_SET) == 0, "lseek");
  return text;
}

ondevice::testing::Script scriptFrom(uint8_t choice) {
  ondevice::testing::Script script;
  // Statuses past the four known ones stand for a platform answering something new.
  script.status = static_cast<AssetStatus>(choice & 0x7);
  script.available = (choice & 0x08) == 0;
  script.answersWithRequest = (choice & 0x10) == 0;
  if (choice & 0x20) script.downloadFailure = {"Download of assets for en_US failed: HTTP 404"};
  script.fileExists = (choice & 0x40) == 0;
  if (choice & 0x80) {
    script.openFailure = {"not audio"};
    script.lastSampleTime.reset();
  }
  // A few results with text that needs escaping and trimming; analysis and finalization never
  // fail here, since a failure leaves the collector thread parked for the rest of the process.
  script.results = {
      TranscriptionResult{true, " hello \"world\"\n",
                          TimeRange{MediaTime{0, 16000}, MediaTime{8000, 16000}}},
      TranscriptionResult{false, "volatile", TimeRange{MediaTime{8000, 16000}, MediaTime{1, 1}}},
      TranscriptionResult{true, "caf\xC3\xA9 \xFF", TimeRange{MediaTime{3, 2}, MediaTime{1, 4}}},
  };
  script.supported.emplace("de_DE", "de_DE");
  return script;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  capturedOutput = ::memfd_create("ondevice-fuzz-stdout", MFD_CLOEXEC);
  FUZZ_CHECK(capturedOutput >= 0, "memfd_create");
  FUZZ_CHECK(::dup2(capturedOutput, STDOUT_FILENO) == STDOUT_FILENO, "dup2");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t choice = data[0];
  std::vector<std::string> arguments;
  if (size > 1) {
    std::string current;
    for (size_t i = 1; i < size; ++i) {
      if (data[i] == 0) {
        arguments.push_back(std::move(current));
        current.clear();
      } else {
        current.push_back(static_cast<char>(data[i]));
      }
    }
    arguments.push_back(std::move(current));
  }

  std::optional<ondevice::ParsedArguments> parsed;
  try {
    parsed = ondevice::parseArguments(arguments);
  } catch (const ondevice::HelperError& e) {
    FUZZ_CHECK(arguments.empty(), "parsing failed for a non-empty list");
    FUZZ_CHECK(e.errorDescription() == "Missing required argument: command", e.what());
    return 0;
  }
  FUZZ_CHECK(!arguments.empty(), "parsing accepted an empty list");
  FUZZ_CHECK(parsed->command == arguments[0], "the command word changed");
  for (const auto& [key, value] : parsed->options) {
    FUZZ_CHECK(!value.starts_with("--"), "a key became a value: " + value);
  }

  ondevice::testing::ScriptedPlatform platform;
  platform.script = scriptFrom(choice);
  bool succeeded = false;
  try {
    ondevice::run(*parsed, platform, platform);
    succeeded = true;
  } catch (const ondevice::HelperError&) {
  } catch (const ondevice::platform::PlatformError&) {
  } catch (const ondevice::JSONSerializationError&) {
  }
  const std::string written = takeCapturedOutput();
  if (!succeeded) {
    FUZZ_CHECK(written.empty(), "a failed run wrote to standard output: " + written);
    return 0;
  }
  const std::string problem = ondevice::testing::checkRecordLine(written);
  FUZZ_CHECK(problem.empty(), problem + ": " + written);
  if (parsed->command == "version") {
    FUZZ_CHECK(written == "{\"backend\":\"SpeechAnalyzer\",\"minimumMacOS\":\"26.0\"}\n", written);
  }
  return 0;
}
