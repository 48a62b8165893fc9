#pragma once
// A uniquely named directory in the store to extract into, removed with everything in it unless
// its contents were moved into place. Directories of the same locale left by killed processes
// are swept by the next install, under the locale's lock.
//
//   StagingDirectory staging(root, "en_US.staging-");   // root/en_US.staging-Xy12Ab

#include <filesystem>
#include <string>

namespace ondevice::platform {

class StagingDirectory {
 public:
  // Creates the directory; throws PlatformError.
  StagingDirectory(const std::filesystem::path& root, const std::string& prefix);
  StagingDirectory(const StagingDirectory&) = delete;
  StagingDirectory& operator=(const StagingDirectory&) = delete;
  ~StagingDirectory();

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Removes every entry of `root` whose name starts with `prefix`. Never throws.
void removeStaleStaging(const std::filesystem::path& root, const std::string& prefix);

}  // namespace ondevice::platform
