#include "output/run_end.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string_view>

#include "base/stacks.h"
#include "base/write_all.h"
#include "output/host_streams.h"
#include "output/json_text.h"

namespace ondevice {
namespace {

// Who owns the report: nobody yet, the exit guard, or the entry point with its status (0 or 1).
constexpr int kUnclaimed = -1;
constexpr int kExitGuard = -2;
std::atomic<int> owner{kUnclaimed};
static_assert(std::atomic<int>::is_always_lock_free, "read from signal handlers");

// What the exit guard finds when it claims the report.
struct GuardClaim {
  enum class Owner { exitGuard, entryPoint, exitGuardBefore } owner;
  int entryPointStatus;  // for Owner::entryPoint
};

// Owner::exitGuard when nothing had been claimed, so the guard now writes the record; otherwise
// who holds it.
GuardClaim claimForExitGuard() noexcept {
  int current = kUnclaimed;
  if (owner.compare_exchange_strong(current, kExitGuard)) return {GuardClaim::Owner::exitGuard, 0};
  if (current == kExitGuard) return {GuardClaim::Owner::exitGuardBefore, 0};
  return {GuardClaim::Owner::entryPoint, current};
}

[[noreturn]] void awaitTheExitGuard() noexcept {
  for (;;) ::pause();
}

// What the calling thread noted it is doing; read from the exit and signal handlers of the same
// thread, so a plain pointer in thread-local storage needs no lock.
thread_local const char* activity = nullptr;

// Set once before any other thread exists. The main thread's id is also the process's.
pid_t mainThread = 0;
// The thread writing the guard's record, once it claimed the report.
std::atomic<pid_t> guardThread{0};

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

pid_t currentThread() noexcept { return static_cast<pid_t>(::syscall(SYS_gettid)); }

// The guard's record line, {"error":"<description>"} and a line feed, built in place without
// allocating. A description too long for it is cut at a whole character or escape, and the
// record stays valid JSON.
class GuardRecord {
 public:
  explicit GuardRecord(std::string_view description) noexcept {
    put(kStart);
    json::escapeString(description, [this](std::string_view piece) noexcept {
      if (cut_ || piece.size() > kCapacity - kEnd.size() - size_) {
        cut_ = true;
      } else {
        put(piece);
      }
    });
    put(kEnd);
  }
  std::string_view line() const noexcept { return {text_, size_}; }

 private:
  static constexpr std::string_view kStart = "{\"error\":\"";
  static constexpr std::string_view kEnd = "\"}\n";
  static constexpr size_t kCapacity = 768;

  void put(std::string_view bytes) noexcept {
    std::copy(bytes.begin(), bytes.end(), text_ + size_);
    size_ += bytes.size();
  }

  char text_[kCapacity];
  size_t size_ = 0;
  bool cut_ = false;
};

// Async-signal-safe: no allocation, no lock, only write().
[[noreturn]] void reportAndEnd(const char* generalDescription) noexcept {
  guardThread = currentThread();
  const GuardRecord record(activity != nullptr ? activity : generalDescription);
  // Nothing more can be reported should the write fail. One write, like every record's.
  writeAll(hostErrorDescriptor(), record.line());
  ::_exit(1);
}

// A process forked from the run (the model load check) inherits the guard, but the run's record
// is the run's own to write: such a process ends quietly.
void endQuietlyIfForked() noexcept {
  if (::getpid() != mainThread) ::_exit(1);
}

// Another thread is writing the guard's record and ends the process next; should this be that
// thread, failing once more on its way, it ends the process itself.
[[noreturn]] void awaitTheGuardsEnd() noexcept {
  if (guardThread == currentThread()) ::_exit(1);
  awaitTheExitGuard();
}

void onExit() noexcept {
  endQuietlyIfForked();
  const GuardClaim claim = claimForExitGuard();
  switch (claim.owner) {
    case GuardClaim::Owner::exitGuard:
      reportAndEnd("A library the tool uses ended the run before it could report a result.");
    case GuardClaim::Owner::entryPoint:
      // The entry point's own exit after its record runs on; another thread ending the process
      // meanwhile ends it with the entry point's status, which its record stands for.
      if (currentThread() != mainThread) ::_exit(claim.entryPointStatus);
      return;
    case GuardClaim::Owner::exitGuardBefore:
      awaitTheGuardsEnd();
  }
}

const char* generalDescriptionOf(int signal) noexcept {
  switch (signal) {
    case SIGABRT:
      return "The run was aborted before it could report a result.";
    case SIGFPE:
      return "The run stopped on an arithmetic fault before it could report a result.";
    case SIGILL:
      return "The run stopped on an illegal instruction before it could report a result.";
    default:
      return "The run stopped on a memory access fault before it could report a result.";
  }
}

void onFatalSignal(int signal) noexcept {
  endQuietlyIfForked();
  const GuardClaim claim = claimForExitGuard();
  switch (claim.owner) {
    case GuardClaim::Owner::exitGuard:
      reportAndEnd(generalDescriptionOf(signal));
    case GuardClaim::Owner::entryPoint:
      ::_exit(claim.entryPointStatus);
    case GuardClaim::Owner::exitGuardBefore:
      awaitTheGuardsEnd();
  }
}

}  // namespace

void installExitGuard() {
  mainThread = currentThread();
  std::atexit([] { onExit(); });
  // A fault of a stack that ran out must not run its handler on that stack.
  useAlternateSignalStackForever();
  struct sigaction action {};
  action.sa_handler = [](int signal) { onFatalSignal(signal); };
  sigemptyset(&action.sa_mask);
  // A fault inside the handler itself ends the process the default way, never a loop.
  action.sa_flags = SA_RESETHAND | SA_ONSTACK;
  for (const int signal : kFatalSignals) ::sigaction(signal, &action, nullptr);
}

void claimRunReport(int status) noexcept {
  int current = owner.load();
  while (current != kExitGuard) {
    if (owner.compare_exchange_weak(current, status)) return;
  }
  awaitTheExitGuard();
}

void endRun(int status) {
  claimRunReport(status);
  std::exit(status);
}

void noteActivity(const char* description) noexcept { activity = description; }

}  // namespace ondevice
