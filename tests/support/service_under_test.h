#pragma once
// A warm service of the test's own: `ondevice-stt serve` with a private runtime directory and
// store under the test's scratch directory, started by the constructor (which returns once it
// answers) and stopped with SIGTERM by stop() or the destructor. Clients find it through
// clientOptions().
//
//   ServiceUnderTest service(scratch.path());
//   runBinary({"transcribe", "--file", clip}, service.clientOptions());
//   EXPECT_EQ(service.stop().out, "{\"requests\":1,\"stopped\":\"signal\"}\n");

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace ondevice::testing {

class ServiceUnderTest {
 public:
  // `options` are the service's own (its environment gets the runtime directory and the store
  // on top); `arguments` follow "serve".
  explicit ServiceUnderTest(const std::filesystem::path& scratch,
                            std::vector<std::string> arguments = {}, ProcessOptions options = {});
  ~ServiceUnderTest();

  // A client's options: the same runtime directory, store and catalog.
  ProcessOptions clientOptions() const;
  const std::filesystem::path& runtimeDirectory() const { return runtime_; }
  std::filesystem::path socket() const { return runtime_ / "ondevice-stt" / "socket"; }
  pid_t pid() const { return process_->pid(); }
  void signal(int signal) { process_->signal(signal); }
  // SIGTERM, and what it wrote as it ended.
  const ProcessResult& stop();
  const ProcessResult& wait() { return process_->wait(); }

 private:
  std::filesystem::path runtime_;
  std::filesystem::path store_;
  std::map<std::string, std::string> sharedEnvironment_;
  std::unique_ptr<Process> process_;
};

}  // namespace ondevice::testing
