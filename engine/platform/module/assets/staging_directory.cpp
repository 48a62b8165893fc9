#include "engine/platform/module/assets/staging_directory.h"

#include <stdlib.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "base/system_error.h"
#include "engine/platform/platform_error.h"

namespace ondevice::platform {

namespace fs = std::filesystem;

StagingDirectory::StagingDirectory(const fs::path& root, const std::string& prefix) {
  std::string pattern = (root / (prefix + "XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw PlatformError(
        describeSystemError("Cannot create a staging directory in " + root.string(), errno));
  }
  path_ = pattern;
}

StagingDirectory::~StagingDirectory() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void removeStaleStaging(const fs::path& root, const std::string& prefix) {
  std::error_code error;
  std::vector<fs::path> stale;
  for (auto it = fs::directory_iterator(root, error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    if (it->path().filename().string().starts_with(prefix)) stale.push_back(it->path());
  }
  for (const auto& path : stale) fs::remove_all(path, error);
}

}  // namespace ondevice::platform
