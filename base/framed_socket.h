#pragma once
// Messages over a Unix stream socket: each one a 4-byte length (big-endian) and that many
// bytes, optionally with one descriptor passed beside it (SCM_RIGHTS). Both ends bound what
// they accept: a frame longer than its limit, or one that does not arrive whole in time, ends
// the exchange. Sends never raise SIGPIPE.
//
//   sendFrame(socket, R"({"type":"open"})", file.get());      // throws SystemFailure
//   if (auto frame = receiveFrame(socket, 64 * 1024, 10'000)) {
//     frame->payload; frame->descriptor;                       // the passed descriptor, if any
//   }                                                          // none: the peer closed

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/unique_fd.h"

namespace ondevice {

struct Frame {
  std::string payload;
  UniqueFd descriptor;  // passed beside the frame; at most one is kept, others are closed
};

// Sends one frame, with `descriptor` passed beside it when it is not -1. Throws SystemFailure
// when the socket refuses (a peer gone, a send that does not finish within `timeoutMs`).
void sendFrame(int socket, std::string_view payload, int descriptor = -1, int timeoutMs = 10'000);

// The next frame; none when the peer closed the connection before one began. Throws
// SystemFailure when a frame is longer than `maxBytes`, the peer closes within one, or nothing
// completes it within `timeoutMs` of waiting (-1: no limit).
std::optional<Frame> receiveFrame(int socket, std::size_t maxBytes, int timeoutMs);

// Whether data or a hang-up is waiting on `socket` within `timeoutMs`.
bool waitReadable(int socket, int timeoutMs);

// The user id of the process at the other end of a connected Unix socket; none when the
// system does not say.
std::optional<uid_t> peerUser(int socket);

}  // namespace ondevice
