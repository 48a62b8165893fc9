#pragma once
// Runs a program as a host would: arguments as given, standard input empty, both output streams
// captured byte for byte, the exit status read back.
//
//   auto r = runBinary({"version"});
//   EXPECT_EQ(r.exitStatus, 0);
//   EXPECT_EQ(r.out, "{\"backend\":\"SpeechAnalyzer\",\"minimumMacOS\":\"26.0\"}\n");

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ondevice::testing {

struct ProcessResult {
  int exitStatus = -1;  // -1 when the process did not exit normally
  int signal = 0;       // the signal that ended it, if one did
  bool timedOut = false;
  std::string out;
  std::string err;
};

struct ProcessOptions {
  std::map<std::string, std::string> environment;  // added to (or replacing in) the parent's
  std::vector<std::string> unsetEnvironment;
  std::chrono::milliseconds timeout{std::chrono::minutes(5)};
  std::optional<std::string> workingDirectory;
};

// argv[0] is the program; it is looked up in PATH when it has no slash.
ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// Runs the ondevice-stt binary of this build with `arguments` after the program path.
ProcessResult runBinary(const std::vector<std::string>& arguments,
                        const ProcessOptions& options = {});

std::string binaryPath();
std::string sourceDirectory();

}  // namespace ondevice::testing
