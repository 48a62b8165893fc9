#pragma once
// What a transcription client and the warm service say to each other over the service's socket
// (base/framed_socket.h carries the frames). One connection is one transcription:
//
//   client                                       service
//   open {build, path} + the audio descriptor ->
//                                             <- opened {build} | undecodable {error}
//                                                | declined {reason} | busy
//   analyze {locale, name, model, identity}   ->
//                                             <- progress {queued, samples} ... (every second)
//                                             <- result {...} ... (each, in delivery order)
//                                             <- finished {last} | failed {error}
//
// The path only names the file in messages; the service reads the descriptor alone, so it reads
// only what the client could read. Every message is a JSON object whose keys and types are
// exactly as below: anything else is malformed, and both ends drop the connection on it (a
// client then transcribes in-process).
//
//   const std::string bytes = encode(OpenRequest{build, path});
//   if (const auto reply = decodeReply(frame.payload)) ...

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/api/media_time.h"
#include "platform/api/results_sequence.h"
#include "platform/contract/model_parts.h"

namespace ondevice::platform::service {

inline constexpr int kProtocolVersion = 1;
// Bounds on what either end accepts in one frame.
inline constexpr std::size_t kMostRequestBytes = 64 * 1024;
inline constexpr std::size_t kMostReplyBytes = 1024 * 1024;
// Results of one transcription: far more than 24 hours of speech can give.
inline constexpr std::size_t kMostResults = 1'000'000;

struct OpenRequest {
  std::string build;  // the client's module soname: only the same build serves it
  std::string path;   // for messages only
};

struct AnalyzeRequest {
  std::string locale;    // the resolved identifier, e.g. "en_US"
  std::string name;      // the model as messages name it: "the speech model for en_US"
  ModelFiles model;      // absolute paths, as the client's catalog and store give them
  std::string identity;  // modelIdentity() of them, as the client sees them
};

using Request = std::variant<OpenRequest, AnalyzeRequest>;

struct Reply {
  enum class Kind { opened, undecodable, declined, busy, progress, result, finished, failed };
  Kind kind = Kind::failed;
  std::string text;  // opened: the service's build; undecodable, failed: the error; declined: why
  bool queued = false;            // progress: waiting for a decoder
  int64_t samples = 0;            // progress: 16 kHz samples read from the file so far
  TranscriptionResult result;     // result
  std::optional<MediaTime> last;  // finished: the last sample time, if the file had one
};

std::string encode(const Request& request);
std::string encode(const Reply& reply);
// None for anything but a well-formed message of the protocol.
std::optional<Request> decodeRequest(std::string_view payload);
std::optional<Reply> decodeReply(std::string_view payload);

}  // namespace ondevice::platform::service
