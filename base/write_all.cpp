#include "base/write_all.h"

#include <unistd.h>

#include <cerrno>

namespace ondevice {
namespace {

template <typename Write>
int writeEvery(std::string_view bytes, Write write, std::size_t& written) {
  written = 0;
  while (written < bytes.size()) {
    const ssize_t count = write(bytes.substr(written));
    if (count < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    written += static_cast<std::size_t>(count);
  }
  return 0;
}

}  // namespace

int writeAll(int fd, std::string_view bytes, std::size_t& written) {
  return writeEvery(
      bytes, [fd](std::string_view rest) { return ::write(fd, rest.data(), rest.size()); },
      written);
}

int writeAll(int fd, std::string_view bytes) {
  std::size_t written = 0;
  return writeAll(fd, bytes, written);
}

int writeAllAt(int fd, std::string_view bytes, off_t offset) {
  const std::size_t total = bytes.size();
  std::size_t written = 0;
  return writeEvery(
      bytes,
      [&](std::string_view rest) {
        return ::pwrite(fd, rest.data(), rest.size(),
                        offset + static_cast<off_t>(total - rest.size()));
      },
      written);
}

}  // namespace ondevice
