#include "tests/support/service_under_test.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace ondevice::testing {
namespace {

namespace fs = std::filesystem;

bool answers(const fs::path& socket) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
  const bool connected =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

}  // namespace

ServiceUnderTest::ServiceUnderTest(const fs::path& scratch, std::vector<std::string> arguments,
                                   ProcessOptions options)
    : runtime_(scratch / "run"), store_(scratch / "store") {
  fs::create_directories(runtime_);
  ::chmod(runtime_.c_str(), 0700);
  if (options.user && ::chown(runtime_.c_str(), options.user->first, options.user->second) != 0) {
    throw std::runtime_error("cannot give the runtime directory to the service's user");
  }
  sharedEnvironment_["XDG_RUNTIME_DIR"] = runtime_.string();
  sharedEnvironment_["ONDEVICE_STT_ASSETS"] = store_.string();
  for (const auto& [name, value] : options.environment) sharedEnvironment_[name] = value;
  options.environment = sharedEnvironment_;
  // It lives as long as the test: the test's own timeout bounds it.
  options.timeout = std::chrono::hours(1);
  arguments.insert(arguments.begin(), "serve");
  process_ = std::make_unique<Process>(binaryCommand(arguments), options);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!answers(socket())) {
    if (std::chrono::steady_clock::now() > deadline) {
      throw std::runtime_error("the service did not start to answer");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

ServiceUnderTest::~ServiceUnderTest() { stop(); }

ProcessOptions ServiceUnderTest::clientOptions() const {
  ProcessOptions options;
  options.environment = sharedEnvironment_;
  return options;
}

const ProcessResult& ServiceUnderTest::stop() {
  process_->signal(SIGTERM);
  return process_->wait();
}

}  // namespace ondevice::testing
