#include "base/durable_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "base/system_error.h"
#include "base/unique_fd.h"
#include "base/write_all.h"

namespace ondevice {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void failOn(const fs::path& path, const char* what, int error) {
  throw SystemFailure(
      describeSystemError(std::string("Cannot ") + what + " " + path.string(), error));
}

void syncPath(const fs::path& path, int flags) {
  UniqueFd fd(::open(path.c_str(), flags | O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) failOn(path, "open", errno);
  if (::fsync(fd.get()) != 0) failOn(path, "sync", errno);
}

}  // namespace

void syncDirectory(const fs::path& directory) { syncPath(directory, O_DIRECTORY); }

void syncTree(const fs::path& top) {
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(top, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_symlink(error)) continue;
    if (it->is_directory(error)) {
      syncDirectory(it->path());
    } else if (it->is_regular_file(error)) {
      syncPath(it->path(), 0);
    }
  }
  if (error) throw SystemFailure("Cannot sync " + top.string() + ": " + error.message());
  syncDirectory(top);
}

void writeFileDurably(const fs::path& path, const std::string& content) {
  const fs::path temporary = path.string() + ".tmp";
  {
    // A file of that name is dropped, never written: it may share its data with another name (a
    // hard link), which must keep it.
    if (::unlink(temporary.c_str()) != 0 && errno != ENOENT) failOn(temporary, "remove", errno);
    UniqueFd fd(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!fd) failOn(temporary, "create", errno);
    if (const int error = writeAll(fd.get(), content); error != 0) {
      failOn(temporary, "write", error);
    }
    if (::fsync(fd.get()) != 0) failOn(temporary, "sync", errno);
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) failOn(path, "create", errno);
  syncDirectory(path.parent_path());
}

}  // namespace ondevice
