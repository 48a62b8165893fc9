#pragma once
// Files for the tests: a scratch directory removed afterwards, whole files written and read,
// random bytes that are the same every run, and a small file system of the test's own.
//
//   ScratchDirectory scratch;
//   writeText(scratch.path() / "noise", randomBytes(4096, 7));
//   TemporaryMount small(scratch.path() / "store", "size=256k");
//   if (!small.mounted()) GTEST_SKIP() << "cannot mount a small file system here";

#include <cstdint>
#include <filesystem>
#include <string>

namespace ondevice::testing {

class ScratchDirectory {
 public:
  ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  ~ScratchDirectory();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Replaces the file's content; throws std::runtime_error when it cannot.
void writeText(const std::filesystem::path& file, const std::string& text);
// The file's bytes; "" when it cannot be read.
std::string readText(const std::filesystem::path& file);
// `count` bytes of a Mersenne twister seeded with `seed`: incompressible, and the same every run.
std::string randomBytes(size_t count, uint32_t seed);

// A tmpfs mounted for the owner's lifetime (options such as "size=256k,nr_inodes=20", flags such
// as MS_RDONLY); not mounted when the machine does not allow it, which the test then reports as
// skipped.
class TemporaryMount {
 public:
  TemporaryMount(const std::filesystem::path& at, const std::string& options,
                 unsigned long flags = 0);
  TemporaryMount(const TemporaryMount&) = delete;
  TemporaryMount& operator=(const TemporaryMount&) = delete;
  ~TemporaryMount();
  bool mounted() const { return mounted_; }

 private:
  std::filesystem::path at_;
  bool mounted_ = false;
};

}  // namespace ondevice::testing
