// The service as systemd runs it: its user units pass systemd's own check, and a service
// started on the first connection with the listening socket handed over (socket activation, as
// systemd-socket-activate does it) answers that connection and says it is ready.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tests/support/speech_test_support.h"

namespace ondevice::testing {
namespace {

namespace fs = std::filesystem;

TEST(ServiceUnits, PassSystemdsCheck) {
  ScratchDirectory scratch;
  const fs::path units = fs::path(binaryPath()).parent_path().parent_path() / "units-of-this-build";
  ProcessOptions options;
  options.environment["XDG_RUNTIME_DIR"] = scratch.path().string();  // a user manager's
  const ProcessResult r =
      runProcess({"systemd-analyze", "verify", "--user", (units / "ondevice-stt.socket").string(),
                  (units / "ondevice-stt.service").string()},
                 options);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "");  // no setting ignored
  EXPECT_EQ(r.out, "");
}

TEST(SocketActivation, TheFirstConnectionStartsTheServiceWithTheSocketHandedOver) {
  ScratchDirectory scratch;
  const fs::path runtime = scratch.path() / "run";
  fs::create_directories(runtime / "ondevice-stt");
  ::chmod(runtime.c_str(), 0700);
  ::chmod((runtime / "ondevice-stt").c_str(), 0700);
  const fs::path socket = runtime / "ondevice-stt" / "socket";
  ProcessOptions options;
  options.environment["XDG_RUNTIME_DIR"] = runtime.string();
  options.environment["ONDEVICE_STT_ASSETS"] = (scratch.path() / "store").string();
  std::vector<std::string> command = {"systemd-socket-activate", "-l", socket.string(),      "-E",
                                      "XDG_RUNTIME_DIR",         "-E", "ONDEVICE_STT_ASSETS"};
  for (const std::string& part : binaryCommand({"serve", "--idle-exit", "2"})) {
    command.push_back(part);
  }
  Process activator(command, options);
  for (int i = 0; i < 500 && !fs::exists(socket); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const std::string clip = speech::librivoxClips()[1].path;
  ProcessOptions off = options;
  off.environment["ONDEVICE_STT_SERVICE"] = "off";
  const ProcessResult expected = runBinary({"transcribe", "--file", clip}, off);
  const ProcessResult r = runBinary({"transcribe", "--file", clip}, options);
  EXPECT_EQ(r.out, expected.out);
  EXPECT_EQ(r.err, "");
  // The service answered it, and ends when idle: the record is the service's own.
  const ProcessResult& end = activator.wait();
  EXPECT_EQ(end.out, "{\"requests\":1,\"stopped\":\"idle\"}\n");
}

}  // namespace
}  // namespace ondevice::testing
