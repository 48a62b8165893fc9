#include "platform/module/model/model_load_check.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "base/system_error.h"
#include "platform/api/platform_error.h"
#include "platform/module/decoding/pocketsphinx_decoder.h"
#include "platform/module/model/model_file_check.h"

namespace ondevice::platform {
namespace {

using namespace std::chrono_literals;

constexpr int kLoaded = 0;
constexpr int kRejected = 3;     // the recogniser answered without a decoder
constexpr int kCannotRun = 4;    // the child could not even set itself up
constexpr int kOutOfMemory = 5;  // an allocation failed within the bound

// The address space the process holds now, in bytes; 0 when the system does not say.
uint64_t addressSpaceBytes() {
  const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[64] = {};
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return 0;
  const uint64_t pages = std::strtoull(text, nullptr, 10);
  return pages * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
}

// Lets the process map at most kModelMemoryBytes more than it holds now (never more than the
// host allowed).
void boundAddressSpace() {
  const uint64_t now = addressSpaceBytes();
  struct rlimit limit {};
  if (now == 0 || ::getrlimit(RLIMIT_AS, &limit) != 0) return;
  const rlim_t bound = now + kModelMemoryBytes;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur <= bound) return;
  limit.rlim_cur = bound;
  ::setrlimit(RLIMIT_AS, &limit);
}

// The child: nothing it or the recogniser prints reaches the tool's streams (the host's among
// the descriptors it closes), and it dies with its parent.
[[noreturn]] void loadInChild(const ModelFiles& model, pid_t parent) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(kCannotRun);
  const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (devNull < 0) ::_exit(kCannotRun);
  for (int stream = 0; stream <= 2; ++stream) {
    if (::dup2(devNull, stream) < 0) ::_exit(kCannotRun);
  }
  ::close_range(3, ~0u, 0);
  boundAddressSpace();
  switch (loadModelOnce(model)) {
    case ModelLoad::loaded:
      ::_exit(kLoaded);
    case ModelLoad::outOfMemory:
      ::_exit(kOutOfMemory);
    case ModelLoad::refused:
      break;
  }
  ::_exit(kRejected);
}

void sleepFor(std::chrono::nanoseconds pause) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(pause);
  struct timespec time {
    static_cast<time_t>(seconds.count()), static_cast<long>((pause - seconds).count())
  };
  ::nanosleep(&time, nullptr);
}

// The child, killed and reaped unless it was waited for to its end: however the wait ends, no
// process is left behind.
class Child {
 public:
  explicit Child(pid_t pid) : pid_(pid) {}
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }

  // The child's wait status, or none when it ran out of time (it is then killed and reaped).
  // Throws PlatformError when it cannot be waited for.
  std::optional<int> waitWithin(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::chrono::nanoseconds pause = 1ms;
    for (;;) {
      int status = 0;
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        pid_ = 0;
        return status;
      }
      if (done < 0 && errno != EINTR) {
        throw PlatformError(describeSystemError("Cannot wait for the model check", errno));
      }
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return std::nullopt;  // killed and reaped by the destructor
      sleepFor(std::min<std::chrono::nanoseconds>(pause, deadline - now));
      pause = std::min<std::chrono::nanoseconds>(pause * 2, 50ms);
    }
  }

 private:
  pid_t pid_;
};

// Children are reaped by the kernel while SIGCHLD is ignored, which a host may have left set;
// the default disposition holds while the check runs.
class DefaultChildSignal {
 public:
  DefaultChildSignal() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    restore_ = ::sigaction(SIGCHLD, &action, &saved_) == 0;
  }
  ~DefaultChildSignal() {
    if (restore_) ::sigaction(SIGCHLD, &saved_, nullptr);
  }
  DefaultChildSignal(const DefaultChildSignal&) = delete;
  DefaultChildSignal& operator=(const DefaultChildSignal&) = delete;

 private:
  struct sigaction saved_ {};
  bool restore_ = false;
};

}  // namespace

ModelLoadVerdict checkModelLoads(const ModelFiles& model, std::chrono::milliseconds timeLimit) {
  using Outcome = ModelLoadVerdict::Outcome;
  if (auto fault = modelFileFault(model)) return {Outcome::refused, std::move(*fault)};
  const DefaultChildSignal childSignal;
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    throw PlatformError(describeSystemError("Cannot start a process to check the model", errno));
  }
  if (pid == 0) loadInChild(model, parent);

  std::optional<int> status;
  {
    Child child(pid);
    status = child.waitWithin(timeLimit);
  }
  if (!status) return {Outcome::timedOut, {}};
  if (WIFEXITED(*status) && WEXITSTATUS(*status) == kLoaded) return {Outcome::loaded, {}};
  if (WIFEXITED(*status) && WEXITSTATUS(*status) == kCannotRun) return {Outcome::couldNotRun, {}};
  if (WIFEXITED(*status) && WEXITSTATUS(*status) == kOutOfMemory) {
    return {Outcome::refused,
            "it needs more than " + std::to_string(kModelMemoryBytes >> 20) + " MiB of memory"};
  }
  if (WIFSIGNALED(*status)) {
    return {Outcome::refused,
            "the loading process ended by signal " + std::to_string(WTERMSIG(*status))};
  }
  return {Outcome::refused, {}};
}

}  // namespace ondevice::platform
