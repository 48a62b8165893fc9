#include "base/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>

#include "base/system_error.h"

namespace ondevice {

// Opened without following a link and without waiting should the name be a FIFO or a device;
// only then is the type checked, through the descriptor. Nothing is ever written to it (opened
// for writing only because some file systems grant an exclusive lock on no other descriptor),
// so a lock file linked to another file leaves that file as it was.
ExclusiveFileLock::ExclusiveFileLock(const std::filesystem::path& path)
    : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY,
                 0644)) {
  struct stat info {};
  const bool opened = fd_ && ::fstat(fd_.get(), &info) == 0;
  if (!opened && errno != ELOOP) {  // ELOOP: the name is a symbolic link
    throw SystemFailure(describeSystemError("Cannot open the lock file " + path.string(), errno));
  }
  if (!opened || !S_ISREG(info.st_mode)) {
    throw SystemFailure("Cannot use the lock file " + path.string() +
                        ": it is not a regular file; remove it");
  }
  while (::flock(fd_.get(), LOCK_EX) != 0) {
    if (errno != EINTR) {
      throw SystemFailure(describeSystemError("Cannot lock " + path.string(), errno));
    }
  }
}

}  // namespace ondevice
