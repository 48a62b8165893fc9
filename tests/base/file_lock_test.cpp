// The file lock: held against other processes for its owner's lifetime, and only ever taken on
// a regular file of that name; a name that is a FIFO, a directory or a link is refused, with an
// error naming it, without waiting on it or writing through it.

#include "base/file_lock.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "base/system_error.h"
#include "base/unique_fd.h"
#include "tests/support/case_name.h"
#include "tests/support/files.h"

namespace ondevice {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using testing::namedBy;
using testing::readText;
using ::testing::ThrowsMessage;
using testing::writeText;

// Whether another open file description can take the lock now (flock locks belong to the open
// file description, so this answers as another process would).
bool lockIsFree(const fs::path& path) {
  const UniqueFd other(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  return other && ::flock(other.get(), LOCK_EX | LOCK_NB) == 0;
}

TEST(FileLock, IsHeldForItsOwnersLifetime) {
  testing::ScratchDirectory scratch;
  const fs::path path = scratch.path() / "en_US.lock";
  {
    const ExclusiveFileLock lock(path);
    EXPECT_FALSE(lockIsFree(path));
  }
  EXPECT_TRUE(lockIsFree(path));
  EXPECT_TRUE(fs::is_regular_file(path));  // it stays for the next one
}

struct NotAFile {
  std::string name;
  std::function<void(const fs::path& lock, const fs::path& other)> make;
};

class LockNamedByNoFile : public ::testing::TestWithParam<NotAFile> {};

TEST_P(LockNamedByNoFile, IsRefusedAndWritesNothingThroughIt) {
  testing::ScratchDirectory scratch;
  const fs::path lock = scratch.path() / "en_US.lock";
  const fs::path other = scratch.path() / "elsewhere";
  writeText(other, "kept");
  GetParam().make(lock, other);
  EXPECT_THAT([&] { ExclusiveFileLock{lock}; },
              ThrowsMessage<SystemFailure>(HasSubstr(lock.string() + ": ")));
  EXPECT_EQ(readText(other), "kept");
}

const NotAFile kNotAFile[] = {
    {"fifo", [](const fs::path& lock, const fs::path&) { ::mkfifo(lock.c_str(), 0644); }},
    {"directory", [](const fs::path& lock, const fs::path&) { fs::create_directory(lock); }},
    {"link to a file",
     [](const fs::path& lock, const fs::path& other) { fs::create_symlink(other, lock); }},
    {"dangling link",
     [](const fs::path& lock, const fs::path& other) { fs::create_symlink(other / "x", lock); }},
};
INSTANTIATE_TEST_SUITE_P(, LockNamedByNoFile, ::testing::ValuesIn(kNotAFile),
                         namedBy<&NotAFile::name>);

}  // namespace
}  // namespace ondevice
