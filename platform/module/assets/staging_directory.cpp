#include "platform/module/assets/staging_directory.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "base/system_error.h"
#include "base/unique_fd.h"
#include "platform/api/platform_error.h"

namespace ondevice::platform {

namespace fs = std::filesystem;

StagingDirectory::StagingDirectory(const fs::path& root, const std::string& prefix) {
  std::string pattern = (root / (prefix + "XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw PlatformError(
        describeSystemError("Cannot create a staging directory in " + root.string(), errno));
  }
  path_ = pattern;
  try {
    signAsOwn(path_);
    if (::mkdir(contents().c_str(), 0755) != 0) {
      throw PlatformError(describeSystemError("Cannot create " + contents().string(), errno));
    }
  } catch (...) {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
    throw;
  }
}

StagingDirectory::~StagingDirectory() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void signAsOwn(const fs::path& directory) {
  const fs::path signature = directory / kOwnSignature;
  std::error_code error;
  fs::remove_all(signature, error);  // put there by an archive, in a directory of our own
  const UniqueFd fd(
      ::open(signature.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (error || !fd) {
    throw PlatformError(
        describeSystemError("Cannot create " + signature.string(), error ? error.value() : errno));
  }
}

bool carriesOwnSignature(const fs::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
         ::lstat((path / kOwnSignature).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

void removeOwnStaging(const fs::path& root, const std::string& prefix) {
  std::error_code error;
  std::vector<fs::path> stale;
  for (auto it = fs::directory_iterator(root, error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    if (it->path().filename().string().starts_with(prefix) && carriesOwnSignature(it->path())) {
      stale.push_back(it->path());
    }
  }
  for (const auto& path : stale) fs::remove_all(path, error);
}

}  // namespace ondevice::platform
