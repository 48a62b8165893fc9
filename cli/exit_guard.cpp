#include "cli/exit_guard.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "output/run_report.h"

namespace ondevice {
namespace {

// Set once before any other thread exists.
StopDescription describeStop = nullptr;
pid_t mainThread = 0;
// The thread writing the guard's record, once it claimed the report.
std::atomic<pid_t> guardThread{0};

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

pid_t currentThread() noexcept { return static_cast<pid_t>(::syscall(SYS_gettid)); }

// Appends `text` to the line as the inside of a JSON string, the way the JSON writer escapes it.
// The descriptions are ASCII; any other byte becomes '?' so that the line stays valid UTF-8.
class Line {
 public:
  void raw(const char* text) noexcept {
    while (*text != '\0') put(*text++);
  }
  void escaped(const char* text) noexcept {
    static constexpr char hex[] = "0123456789abcdef";
    for (; *text != '\0'; ++text) {
      const auto c = static_cast<unsigned char>(*text);
      if (c == '"' || c == '\\' || c == '/') {
        put('\\');
        put(static_cast<char>(c));
      } else if (c < 0x20) {
        raw("\\u00");
        put(hex[c >> 4]);
        put(hex[c & 0xF]);
      } else {
        put(c < 0x80 ? static_cast<char>(c) : '?');
      }
    }
  }
  const char* data() const noexcept { return text_; }
  size_t size() const noexcept { return size_; }

 private:
  void put(char c) noexcept {
    if (size_ < sizeof text_) text_[size_++] = c;
  }
  char text_[768] = {};
  size_t size_ = 0;
};

void writeFully(const char* bytes, size_t count) noexcept {
  while (count > 0) {
    const ssize_t written = ::write(STDERR_FILENO, bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes += written;
    count -= static_cast<size_t>(written);
  }
}

// Async-signal-safe: no allocation, no lock, only write().
[[noreturn]] void reportAndEnd(const char* generalDescription) noexcept {
  guardThread = currentThread();
  const char* description = describeStop != nullptr ? describeStop() : nullptr;
  Line line;
  line.raw("{\"error\":\"");
  line.escaped(description != nullptr ? description : generalDescription);
  line.raw("\"}");
  writeFully(line.data(), line.size());
  writeFully("\n", 1);  // the line feed as a write of its own, like every record's
  ::_exit(1);
}

// Another thread is writing the guard's record and ends the process next; should this be that
// thread, failing once more on its way, it ends the process itself.
[[noreturn]] void awaitTheGuardsEnd() noexcept {
  if (guardThread == currentThread()) ::_exit(1);
  report::awaitTheExitGuard();
}

void onExit() noexcept {
  const report::GuardClaim claim = report::claimForExitGuard();
  switch (claim.owner) {
    case report::GuardClaim::Owner::exitGuard:
      reportAndEnd("A library the tool uses ended the run before it could report a result.");
    case report::GuardClaim::Owner::entryPoint:
      // The entry point's own exit after its record runs on; another thread ending the process
      // meanwhile ends it with the entry point's status, which its record stands for.
      if (currentThread() != mainThread) ::_exit(claim.entryPointStatus);
      return;
    case report::GuardClaim::Owner::exitGuardBefore:
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
  const report::GuardClaim claim = report::claimForExitGuard();
  switch (claim.owner) {
    case report::GuardClaim::Owner::exitGuard:
      reportAndEnd(generalDescriptionOf(signal));
    case report::GuardClaim::Owner::entryPoint:
      ::_exit(claim.entryPointStatus);
    case report::GuardClaim::Owner::exitGuardBefore:
      awaitTheGuardsEnd();
  }
}

}  // namespace

void installExitGuard(StopDescription describe) {
  describeStop = describe;
  mainThread = currentThread();
  std::atexit([] { onExit(); });
  struct sigaction action {};
  action.sa_handler = [](int signal) { onFatalSignal(signal); };
  sigemptyset(&action.sa_mask);
  // A fault inside the handler itself ends the process the default way, never a loop.
  action.sa_flags = SA_RESETHAND;
  for (const int signal : kFatalSignals) ::sigaction(signal, &action, nullptr);
}

}  // namespace ondevice
