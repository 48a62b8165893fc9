#pragma once
// Where the service listens: $XDG_RUNTIME_DIR/ondevice-stt/socket. The directory is the
// service's own (made with mode 0700 when missing; refused when it is a link, belongs to
// another user, or others may enter it), one service at a time holds its lock file, and the
// socket is either the one systemd hands over (socket activation) or one bound here, in place
// of a socket that nobody answers on any more.
//
//   ServicePlace place(runtimeDirectory / "ondevice-stt");   // throws PlatformError
//   accept(place.listener(), ...);
//
// Also what a client checks before it trusts a socket: servicePlaceIsOwn().

#include <filesystem>
#include <string>

#include "base/unique_fd.h"

namespace ondevice::platform {

class ServicePlace {
 public:
  // Throws PlatformError "Cannot serve: ..." when the place is not the service's own, another
  // service holds it, or no socket can be had.
  explicit ServicePlace(const std::filesystem::path& directory);
  ~ServicePlace();
  ServicePlace(const ServicePlace&) = delete;
  ServicePlace& operator=(const ServicePlace&) = delete;

  int listener() const { return listener_.get(); }
  const std::filesystem::path& socketPath() const { return socket_; }
  // Whether systemd handed the socket over (and keeps it; it is not removed at the end).
  bool activated() const { return activated_; }

 private:
  std::filesystem::path socket_;
  UniqueFd lock_;
  UniqueFd listener_;
  bool activated_ = false;
};

}  // namespace ondevice::platform
