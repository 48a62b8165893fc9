#include "base/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace ondevice {

RegularFile RegularFile::open(const char* path) {
  // O_NONBLOCK: opening a FIFO waits for a writer without it. O_NOCTTY: a terminal named here
  // must not become the process's controlling terminal.
  UniqueFd fd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd) {
    RegularFile file;
    file.error_ = errno;
    return file;
  }
  return adopt(std::move(fd));
}

RegularFile RegularFile::adopt(UniqueFd fd) {
  RegularFile file;
  file.fd_ = std::move(fd);
  struct stat status {};
  if (!file.fd_ || ::fstat(file.fd_.get(), &status) != 0) {
    file.error_ = file.fd_ ? errno : EBADF;
    return file;
  }
  const int mode = ::fcntl(file.fd_.get(), F_GETFL);
  if (mode < 0 || ((mode & O_ACCMODE) != O_RDONLY && (mode & O_ACCMODE) != O_RDWR)) {
    file.error_ = mode < 0 ? errno : EBADF;
    return file;
  }
  if (S_ISDIR(status.st_mode)) {
    file.refusal_ = Refusal::directory;
    return file;
  }
  if (!S_ISREG(status.st_mode)) {
    file.refusal_ = Refusal::notRegular;
    return file;
  }
  const int flags = ::fcntl(file.fd_.get(), F_GETFL);
  if (flags < 0 || ::fcntl(file.fd_.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    file.error_ = errno;
    return file;
  }
  file.refusal_ = Refusal::none;
  file.size_ = static_cast<std::uint64_t>(status.st_size);
  return file;
}

ssize_t RegularFile::read(void* buffer, std::size_t count) const {
  for (;;) {
    const ssize_t n = ::read(fd_.get(), buffer, count);
    if (n >= 0 || errno != EINTR) return n;
  }
}

bool RegularFile::readExactlyAt(void* buffer, std::size_t count, off_t offset) const {
  auto* bytes = static_cast<char*>(buffer);
  while (count > 0) {
    const ssize_t n = ::pread(fd_.get(), bytes, count, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<std::size_t>(n);
    offset += n;
  }
  return true;
}

int RegularFile::readAll(std::string& out, std::size_t limit) const {
  // Read straight into `out`, a block at a time: a buffer on the stack would not fit the small
  // stacks a host may give the tool.
  constexpr std::size_t kBlock = 65536;
  std::size_t appended = 0;
  while (appended <= limit) {
    const std::size_t start = out.size();
    out.resize(start + kBlock);
    const ssize_t n = read(out.data() + start, kBlock);
    const int error = errno;
    out.resize(start + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    if (n < 0) return error;
    if (n == 0) break;
    appended += static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace ondevice
