#include "base/framed_socket.h"

#include <poll.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "base/system_error.h"

namespace ondevice {
namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, for poll(); -1 for none.
int msLeft(std::optional<Clock::time_point> deadline) {
  if (!deadline) return -1;
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
  return static_cast<int>(std::max<long long>(left, 0));
}

void await(int socket, short events, std::optional<Clock::time_point> deadline) {
  pollfd wanted{socket, events, 0};
  for (;;) {
    const int ready = ::poll(&wanted, 1, msLeft(deadline));
    if (ready > 0) return;
    if (ready == 0) throw SystemFailure("The peer did not answer in time");
    if (errno != EINTR) throw SystemFailure(describeSystemError("Cannot wait on a socket", errno));
  }
}

// Closes every descriptor a control message carries but the first, which it returns.
UniqueFd takeDescriptors(msghdr& message) {
  UniqueFd kept;
  for (cmsghdr* control = CMSG_FIRSTHDR(&message); control != nullptr;
       control = CMSG_NXTHDR(&message, control)) {
    if (control->cmsg_level != SOL_SOCKET || control->cmsg_type != SCM_RIGHTS) continue;
    const size_t count = (control->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (size_t i = 0; i < count; ++i) {
      int fd = -1;
      std::memcpy(&fd, CMSG_DATA(control) + i * sizeof(int), sizeof fd);
      if (!kept) {
        kept.reset(fd);
      } else {
        ::close(fd);
      }
    }
  }
  return kept;
}

// Reads exactly `size` bytes into `buffer`, keeping the first descriptor that arrives. False
// when the peer closed before the first byte (and `eofAllowed`).
bool receiveExactly(int socket, char* buffer, size_t size, UniqueFd& descriptor, bool eofAllowed,
                    std::optional<Clock::time_point> deadline) {
  size_t got = 0;
  while (got < size) {
    await(socket, POLLIN, deadline);
    iovec part{buffer + got, size - got};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int) * 4)> control{};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t n = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      throw SystemFailure(describeSystemError("Cannot read from a socket", errno));
    }
    UniqueFd arrived = takeDescriptors(message);
    if (arrived && !descriptor) descriptor = std::move(arrived);
    if ((message.msg_flags & MSG_CTRUNC) != 0) {
      throw SystemFailure("A message carried more descriptors than one");
    }
    if (n == 0) {
      if (got == 0 && eofAllowed) return false;
      throw SystemFailure("The peer closed the connection within a message");
    }
    got += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

void sendFrame(int socket, std::string_view payload, int descriptor, int timeoutMs) {
  if (payload.size() > UINT32_MAX) throw SystemFailure("A message is too long to send");
  const auto length = static_cast<uint32_t>(payload.size());
  const std::array<char, 4> header{static_cast<char>(length >> 24), static_cast<char>(length >> 16),
                                   static_cast<char>(length >> 8), static_cast<char>(length)};
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::array<iovec, 2> parts{iovec{const_cast<char*>(header.data()), header.size()},
                             iovec{const_cast<char*>(payload.data()), payload.size()}};
  size_t first = 0;
  bool descriptorSent = descriptor < 0;
  while (first < parts.size()) {
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
    msghdr message{};
    message.msg_iov = &parts[first];
    message.msg_iovlen = parts.size() - first;
    if (!descriptorSent) {
      message.msg_control = control.data();
      message.msg_controllen = control.size();
      cmsghdr* rights = CMSG_FIRSTHDR(&message);
      rights->cmsg_level = SOL_SOCKET;
      rights->cmsg_type = SCM_RIGHTS;
      rights->cmsg_len = CMSG_LEN(sizeof(int));
      std::memcpy(CMSG_DATA(rights), &descriptor, sizeof descriptor);
    }
    const ssize_t n = ::sendmsg(socket, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        await(socket, POLLOUT, deadline);
        continue;
      }
      throw SystemFailure(describeSystemError("Cannot write to a socket", errno));
    }
    descriptorSent = true;
    auto sent = static_cast<size_t>(n);
    while (first < parts.size() && sent >= parts[first].iov_len) sent -= parts[first++].iov_len;
    if (first < parts.size()) {
      parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + sent;
      parts[first].iov_len -= sent;
    }
  }
}

std::optional<Frame> receiveFrame(int socket, size_t maxBytes, int timeoutMs) {
  std::optional<Clock::time_point> deadline;
  if (timeoutMs >= 0) deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  Frame frame;
  std::array<char, 4> header{};
  if (!receiveExactly(socket, header.data(), header.size(), frame.descriptor, true, deadline)) {
    return std::nullopt;
  }
  uint32_t length = 0;
  for (const char byte : header) length = (length << 8) | static_cast<unsigned char>(byte);
  if (length > maxBytes) throw SystemFailure("A message is longer than its bound");
  frame.payload.resize(length);
  receiveExactly(socket, frame.payload.data(), length, frame.descriptor, false, deadline);
  return frame;
}

bool waitReadable(int socket, int timeoutMs) {
  pollfd wanted{socket, POLLIN, 0};
  const int ready = ::poll(&wanted, 1, timeoutMs);
  return ready > 0;
}

std::optional<uid_t> peerUser(int socket) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
      size != sizeof credentials) {
    return std::nullopt;
  }
  return credentials.uid;
}

}  // namespace ondevice
