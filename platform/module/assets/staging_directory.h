#pragma once
// A uniquely named directory in the store to extract into, removed with everything in it unless
// its contents were moved into place. It carries the installer's signature from the moment it
// exists, so that what a killed install left can be told from whatever else a shared store
// holds: the next install, under the locale's lock, sweeps only signed directories of the
// locale.
//
//   StagingDirectory staging(root, "en_US.staging-");   // root/en_US.staging-Xy12Ab/
//   extractArchive(archive, staging.contents(), ...);   //   .made-by-ondevice-stt, contents/

#include <filesystem>
#include <string>

namespace ondevice::platform {

// The file by which the installer knows a directory in the store as its own: every staging
// directory holds it, and a model carries it into place.
inline constexpr const char* kOwnSignature = ".made-by-ondevice-stt";

class StagingDirectory {
 public:
  // Creates the directory, signed, with an empty contents directory; throws PlatformError.
  StagingDirectory(const std::filesystem::path& root, const std::string& prefix);
  StagingDirectory(const StagingDirectory&) = delete;
  StagingDirectory& operator=(const StagingDirectory&) = delete;
  ~StagingDirectory();

  const std::filesystem::path& path() const { return path_; }
  // Where the archive goes; never holds the signature unless the archive does.
  std::filesystem::path contents() const { return path_ / "contents"; }

 private:
  std::filesystem::path path_;
};

// Puts the signature into `directory`, in place of anything of that name; throws PlatformError.
void signAsOwn(const std::filesystem::path& directory);
// Whether `path` is a directory (not a link to one) that holds the signature as a regular file.
bool carriesOwnSignature(const std::filesystem::path& path);

// Removes every signed directory of `root` whose name starts with `prefix`; whatever else bears
// such a name is left alone. Never throws.
void removeOwnStaging(const std::filesystem::path& root, const std::string& prefix);

}  // namespace ondevice::platform
