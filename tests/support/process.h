#pragma once
// The one way the tests start a program: as a host would, with the arguments as given, standard
// input empty, both output streams captured byte for byte through pipes, no other descriptor,
// default signal dispositions, and the exit status read back. Options give the child more or less
// environment, another working directory, resource limits, ignored signals and other streams
// (closed, a pipe whose reader has gone, a file); a Process runs in the background until it is
// waited for or destroyed.
//
//   auto r = runBinary({"version"});
//   EXPECT_EQ(r.exitStatus, 0);
//   EXPECT_EQ(r.out, "{\"backend\":\"SpeechAnalyzer\",\"minimumMacOS\":\"26.0\"}\n");
//
//   ProcessOptions options;
//   options.output = Stream::readerGone();
//   options.limits[RLIMIT_FSIZE] = 1024;
//   Process prepare(binaryCommand({"prepare"}), options);
//   prepare.signal(SIGKILL);
//   EXPECT_EQ(prepare.wait().signal, SIGKILL);

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace ondevice::testing {

struct ProcessResult {
  int exitStatus = -1;  // -1 when the process did not exit normally
  int signal = 0;       // the signal that ended it, if one did
  bool timedOut = false;
  std::string out;  // what it wrote to a captured standard output
  std::string err;  // ... and to a captured standard error
};

// Status, signal and the start of each stream, for failure messages.
void PrintTo(const ProcessResult& result, std::ostream* os);

// Where one of the child's standard streams leads.
struct Stream {
  enum class Kind { captured, inherited, nullDevice, closed, readerGone, file, sameAsOutput };
  Kind kind = Kind::captured;
  std::filesystem::path path = {};  // of a file
  bool append = false;

  static Stream captured() { return {Kind::captured}; }      // into the result (not for input)
  static Stream inherited() { return {Kind::inherited}; }    // the test's own
  static Stream nullDevice() { return {Kind::nullDevice}; }  // /dev/null
  static Stream closed() { return {Kind::closed}; }          // no descriptor at all
  static Stream readerGone() { return {Kind::readerGone}; }  // a pipe without reader
  // Written (truncated unless appended to); read when it is standard input.
  static Stream file(std::filesystem::path path, bool append = false) {
    return {Kind::file, std::move(path), append};
  }
  static Stream sameAsOutput() { return {Kind::sameAsOutput}; }  // standard error only: 2>&1
};

struct ProcessOptions {
  std::map<std::string, std::string> environment;  // added to (or replacing in) the parent's
  std::vector<std::string> unsetEnvironment;
  // From the start; then the process is killed (SIGKILL) and the result says so.
  std::chrono::milliseconds timeout{std::chrono::minutes(5)};
  std::optional<std::filesystem::path> workingDirectory;
  Stream input = Stream::nullDevice();
  Stream output = Stream::captured();
  Stream error = Stream::captured();
  std::map<int, rlim_t> limits;     // RLIMIT_... -> its soft and hard limit
  std::vector<int> ignoredSignals;  // as a shell's trap '' would leave them
  // Runs as this user (and group), which needs the test to run as root.
  std::optional<std::pair<uid_t, gid_t>> user;
};

// A child process, started by the constructor. argv[0] is the program; it is looked up in PATH
// when it has no slash. Throws std::runtime_error when the program cannot be started.
class Process {
 public:
  Process(const std::vector<std::string>& argv, const ProcessOptions& options = {});
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();  // kills a child not waited for, and reaps it

  pid_t pid() const { return pid_; }
  void signal(int signal);  // none once it has been waited for
  // The first line of the captured standard output (without its line feed), waiting for it
  // until the timeout; "" when the stream ends first. What follows stays for wait().
  std::string firstOutputLine();
  // Reads the captured streams until they end and waits for the exit, killing the process
  // once the timeout has passed. A second call answers the same.
  const ProcessResult& wait();

 private:
  bool collect(int timeoutMilliseconds);  // false once the streams ended and the child exited

  pid_t pid_ = -1;
  int pidFd_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  std::chrono::steady_clock::time_point deadline_;
  ProcessResult result_;
  bool exited_ = false;
  bool waited_ = false;
};

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});
// As runProcess, for a tool the test relies on: throws std::runtime_error with what the tool
// wrote on standard error when it does not exit with status 0.
ProcessResult runTool(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// The ondevice-stt binary of this build, then `arguments`.
std::vector<std::string> binaryCommand(const std::vector<std::string>& arguments);
ProcessResult runBinary(const std::vector<std::string>& arguments,
                        const ProcessOptions& options = {});

std::string binaryPath();
std::string sourceDirectory();
// The speech module that a binary at `binary` opens: in the module's folder of the installed
// layout, relative to the binary's folder (for this build's binary: its module).
std::filesystem::path moduleOf(const std::filesystem::path& binary);

}  // namespace ondevice::testing
