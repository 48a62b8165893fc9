#include "engine/platform/module/assets/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "base/system_error.h"
#include "engine/platform/platform_error.h"

namespace ondevice::platform {

ExclusiveFileLock::ExclusiveFileLock(const std::filesystem::path& path)
    : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644)) {
  if (!fd_) {
    throw PlatformError(describeSystemError("Cannot open the lock file " + path.string(), errno));
  }
  while (::flock(fd_.get(), LOCK_EX) != 0) {
    if (errno != EINTR) {
      throw PlatformError(describeSystemError("Cannot lock " + path.string(), errno));
    }
  }
}

}  // namespace ondevice::platform
