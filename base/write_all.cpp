#include "base/write_all.h"

#include <unistd.h>

#include <cerrno>

namespace ondevice {
namespace {

template <typename Write>
int writeEvery(std::string_view bytes, Write write) {
  while (!bytes.empty()) {
    const ssize_t written = write(bytes);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

}  // namespace

int writeAll(int fd, std::string_view bytes) {
  return writeEvery(bytes, [fd](std::string_view rest) {
    return ::write(fd, rest.data(), rest.size());
  });
}

int writeAllAt(int fd, std::string_view bytes, off_t offset) {
  const std::size_t total = bytes.size();
  return writeEvery(bytes, [&](std::string_view rest) {
    return ::pwrite(fd, rest.data(), rest.size(), offset + static_cast<off_t>(total - rest.size()));
  });
}

}  // namespace ondevice
