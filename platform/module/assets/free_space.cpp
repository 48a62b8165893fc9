#include "platform/module/assets/free_space.h"

#include <sys/statvfs.h>

#include <cerrno>
#include <cstdint>

#include "base/saturating.h"
#include "base/system_error.h"
#include "platform/api/platform_error.h"

namespace ondevice::platform {

void requireFreeSpace(const std::filesystem::path& directory, const SpaceNeeded& needed,
                      const std::string& purpose) {
  struct statvfs info {};
  if (::statvfs(directory.c_str(), &info) != 0) {
    throw PlatformError(
        describeSystemError("Cannot read the free space of " + directory.string(), errno));
  }
  const std::string shortOf = "Not enough free space in " + directory.string() + " for " + purpose;
  const std::uint64_t block = info.f_frsize != 0 ? info.f_frsize : info.f_bsize;
  const std::uint64_t available = static_cast<std::uint64_t>(info.f_bavail) * block;
  const std::uint64_t bytes = saturatingSum(needed.bytes, saturatingProduct(needed.files, block));
  if (bytes > available) {
    throw PlatformError(shortOf + ": " + std::to_string(bytes) + " bytes needed, " +
                        std::to_string(available) + " available");
  }
  // File systems without an inode count report none at all.
  if (info.f_files != 0 && needed.files > info.f_favail) {
    throw PlatformError(shortOf + ": " + std::to_string(needed.files) + " files needed, " +
                        std::to_string(info.f_favail) + " more allowed");
  }
}

}  // namespace ondevice::platform
