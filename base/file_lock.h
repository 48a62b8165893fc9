#pragma once
// An exclusive flock on a file, held for the owner's lifetime. The kernel drops it when the
// process dies, so a killed installer never leaves a locale locked.
//
//   ExclusiveFileLock lock("/store/en_US.lock");   // waits while another process holds it

#include <filesystem>

#include "base/unique_fd.h"

namespace ondevice {

class ExclusiveFileLock {
 public:
  // Creates the file if needed and waits for the lock; throws SystemFailure.
  explicit ExclusiveFileLock(const std::filesystem::path& path);

 private:
  UniqueFd fd_;  // closing it releases the lock
};

}  // namespace ondevice
