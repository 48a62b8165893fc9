#include "platform/module/service/service_place.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "base/system_error.h"
#include "platform/api/platform_error.h"

namespace ondevice::platform {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void refuse(const std::string& why) { throw PlatformError("Cannot serve: " + why); }

// The directory, made when missing, and checked as it is: a directory itself (not a link),
// the service user's, closed to everyone else.
void claimDirectory(const fs::path& directory) {
  if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
    refuse(describeSystemError("cannot make " + directory.string(), errno));
  }
  struct stat info {};
  if (::lstat(directory.c_str(), &info) != 0) {
    refuse(describeSystemError("cannot look at " + directory.string(), errno));
  }
  if (!S_ISDIR(info.st_mode)) refuse(directory.string() + " is not a directory");
  if (info.st_uid != ::geteuid()) refuse(directory.string() + " belongs to another user");
  if ((info.st_mode & 077) != 0) refuse(directory.string() + " is open to other users");
}

sockaddr_un addressOf(const fs::path& socket) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket.string().size() >= sizeof address.sun_path) {
    refuse(socket.string() + " is too long a name for a socket");
  }
  std::strcpy(address.sun_path, socket.c_str());
  return address;
}

// Whether a service answers on the socket at `path`.
bool answers(const fs::path& path) {
  const UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_un address = addressOf(path);
  return probe &&
         ::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

UniqueFd bindSocket(const fs::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) {
    // Only a socket of the service's own that nobody answers on is replaced.
    if (!S_ISSOCK(info.st_mode) || info.st_uid != ::geteuid()) {
      refuse(path.string() + " is in the way (it is not a socket of this user)");
    }
    if (answers(path)) refuse("another service answers on " + path.string());
    ::unlink(path.c_str());
  }
  UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!listener) refuse(describeSystemError("cannot make a socket", errno));
  const sockaddr_un address = addressOf(path);
  const mode_t mask = ::umask(077);  // the socket is the user's alone from its first moment
  const int bound =
      ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int error = errno;
  ::umask(mask);
  if (bound != 0) refuse(describeSystemError("cannot bind " + path.string(), error));
  if (::listen(listener.get(), SOMAXCONN) != 0) {
    refuse(describeSystemError("cannot listen on " + path.string(), errno));
  }
  return listener;
}

// The socket systemd handed over, when it did: a listening Unix stream socket whose name is a
// socket of this user.
std::optional<UniqueFd> handedSocket() {
  const int count = sd_listen_fds(1);  // and forgets the variables, for any child
  if (count <= 0) return std::nullopt;
  if (count != 1) refuse("systemd handed over " + std::to_string(count) + " sockets, not one");
  const int fd = SD_LISTEN_FDS_START;
  if (sd_is_socket_unix(fd, SOCK_STREAM, 1, nullptr, 0) <= 0) {
    refuse("the socket systemd handed over is not a listening Unix stream socket");
  }
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  return UniqueFd(fd);
}

// A socket at `path` that only this user may connect to (connecting takes write permission).
void checkSocketFile(const fs::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode) || info.st_uid != ::geteuid() ||
      (info.st_mode & 022) != 0) {
    refuse(path.string() + " is not a socket of this user's alone");
  }
}

}  // namespace

ServicePlace::ServicePlace(const fs::path& directory) : socket_(directory / "socket") {
  claimDirectory(directory);
  const fs::path lock = directory / "lock";
  lock_.reset(::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
  struct stat info {};
  if (!lock_ || ::fstat(lock_.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    refuse(lock.string() + " cannot be used as the service's lock");
  }
  if (::flock(lock_.get(), LOCK_EX | LOCK_NB) != 0) {
    refuse("another service runs in " + directory.string());
  }
  if (auto handed = handedSocket()) {
    listener_ = std::move(*handed);
    activated_ = true;
    checkSocketFile(socket_);
  } else {
    listener_ = bindSocket(socket_);
  }
}

ServicePlace::~ServicePlace() {
  if (!activated_ && listener_) ::unlink(socket_.c_str());
}

}  // namespace ondevice::platform
