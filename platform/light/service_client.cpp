#include "platform/light/service_client.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "base/framed_socket.h"
#include "base/system_error.h"
#include "platform/api/platform_error.h"

namespace ondevice::platform {
namespace {

namespace fs = std::filesystem;
using service::Reply;
using Clock = std::chrono::steady_clock;

// The service reports at least every second; a silence this long is a stalled service.
constexpr int kSilenceMs = 10'000;
// A request waits its turn for a decoder while the service reports that it waits: the service
// bounds how many may wait, and each of them is decoded in turn. Only a wait far past any
// queue's (a service that says it waits and never serves) sends the client back in-process.
constexpr auto kMostQueued = std::chrono::minutes(10);
// And the analysis may go this long without reading further into the file, and take no longer
// in all than this plus ten seconds for every second of audio read (decoding takes about a
// tenth of a second per second): the wait is bound by the audio's length.
constexpr auto kMostWithoutProgress = std::chrono::seconds(120);
constexpr int64_t kSecondsPerAudioSecond = 10;
constexpr int64_t kSamplesPerSecond = 16000;

// Whether `path` is this user's own: not a link, owned by the process's user, and closed to
// others (a directory they cannot enter, a socket they cannot connect to).
bool ownedAlone(const fs::path& path, bool directory) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 &&
         (directory ? S_ISDIR(info.st_mode) : S_ISSOCK(info.st_mode)) &&
         info.st_uid == ::geteuid() && (info.st_mode & (directory ? 077 : 022)) == 0;
}

UniqueFd connectTo(const fs::path& directory) {
  const fs::path socket = directory / "socket";
  if (!ownedAlone(directory, true) || !ownedAlone(socket, false)) return {};
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket.string().size() >= sizeof address.sun_path) return {};
  std::strcpy(address.sun_path, socket.c_str());
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd ||
      ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return {};  // no service, or its backlog is full (EAGAIN): in-process
  }
  // Only a service of this very user is trusted with the file and believed.
  if (peerUser(fd.get()) != ::geteuid()) return {};
  return fd;
}

std::optional<Reply> nextReply(int socket) {
  auto frame = receiveFrame(socket, service::kMostReplyBytes, kSilenceMs);
  if (!frame || frame->descriptor) return std::nullopt;  // a service passes no descriptors
  return service::decodeReply(frame->payload);
}

}  // namespace

std::optional<ServiceSession> ServiceSession::open(const fs::path& directory,
                                                   const std::string& build, int file,
                                                   const std::string& path) {
  try {
    UniqueFd socket = connectTo(directory);
    if (!socket) return std::nullopt;
    sendFrame(socket.get(), service::encode(service::OpenRequest{build, path}), file);
    const auto reply = nextReply(socket.get());
    if (!reply) return std::nullopt;
    if (reply->kind == Reply::Kind::undecodable) throw UndecodableAudioError(reply->text);
    if (reply->kind != Reply::Kind::opened || reply->text != build) return std::nullopt;
    return ServiceSession(std::move(socket));
  } catch (const SystemFailure&) {
    return std::nullopt;
  }
}

std::optional<ServiceSession::Outcome> ServiceSession::analyze(
    const service::AnalyzeRequest& request) {
  std::optional<Outcome> outcome = receiveOutcome(request);
  if (!outcome) socket_.reset();
  return outcome;
}

std::optional<ServiceSession::Outcome> ServiceSession::receiveOutcome(
    const service::AnalyzeRequest& request) {
  try {
    sendFrame(socket_.get(), service::encode(request));
    Outcome outcome;
    const auto start = Clock::now();
    auto lastProgress = start;
    int64_t samples = 0;
    while (const auto reply = nextReply(socket_.get())) {
      const auto now = Clock::now();
      switch (reply->kind) {
        case Reply::Kind::progress:
          if (reply->queued) {
            if (now - start > kMostQueued) return std::nullopt;
            continue;
          }
          if (reply->samples < samples) return std::nullopt;  // read back: no such service
          if (reply->samples > samples) {
            samples = reply->samples;
            lastProgress = now;
          }
          if (now - lastProgress > kMostWithoutProgress ||
              now - start >
                  kMostQueued + kMostWithoutProgress +
                      std::chrono::seconds(kSecondsPerAudioSecond * samples / kSamplesPerSecond)) {
            return std::nullopt;  // stalled
          }
          continue;
        case Reply::Kind::result:
          if (outcome.results.size() >= service::kMostResults) return std::nullopt;
          outcome.results.push_back(reply->result);
          continue;
        case Reply::Kind::finished:
          outcome.last = reply->last;
          return outcome;
        default:  // failed, busy, declined, or a reply out of turn
          return std::nullopt;
      }
    }
  } catch (const SystemFailure&) {
  }
  return std::nullopt;
}

}  // namespace ondevice::platform
