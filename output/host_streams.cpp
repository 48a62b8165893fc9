#include "output/host_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

// Present only in a build with a sanitizer, whose runtime defines it.
extern "C" void __sanitizer_set_report_fd(void* fd) __attribute__((weak));

namespace ondevice {
namespace {

// Written once by takeHostStreams() before any other thread exists, read by any thread after.
int hostOutput = STDOUT_FILENO;
int hostError = STDERR_FILENO;

bool isOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

// A private copy of `fd` above the standard three, closed on exec; -1 when `fd` is closed.
// Where no copy can be made, the host's stream stays where it is.
int privateCopy(int fd, bool open) {
  if (!open) return -1;
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  return copy >= 0 ? copy : fd;
}

}  // namespace

void takeHostStreams() noexcept {
  const bool open[] = {isOpen(STDIN_FILENO), isOpen(STDOUT_FILENO), isOpen(STDERR_FILENO)};
  hostOutput = privateCopy(STDOUT_FILENO, open[STDOUT_FILENO]);
  hostError = privateCopy(STDERR_FILENO, open[STDERR_FILENO]);

  // Lands on the lowest closed descriptor, which may be one of the three.
  const int null = ::open("/dev/null", O_RDWR);
  if (null >= 0) {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
      const bool keep = (fd == STDIN_FILENO && open[fd]) || hostOutput == fd || hostError == fd;
      if (!keep && fd != null) ::dup2(null, fd);
    }
    if (null > STDERR_FILENO) ::close(null);
  }

  if (__sanitizer_set_report_fd != nullptr && hostError >= 0) {
    __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(hostError)));
  }
}

int hostOutputDescriptor() noexcept { return hostOutput; }
int hostErrorDescriptor() noexcept { return hostError; }

}  // namespace ondevice
