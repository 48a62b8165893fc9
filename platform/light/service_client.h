#pragma once
// A transcription handed to the warm service of this user, when one answers: the client opens
// the file itself and passes the open descriptor, never the path, so that the service reads
// only what the client could read; the service sends back the results and the last sample time,
// and the client's record is built from them as from an analysis of its own.
//
//   if (auto session = ServiceSession::open(directory, build, file, path)) {   // or in-process
//     if (auto outcome = session->analyze(request)) ...   // none: transcribe in-process
//   }
//
// Nothing a service does can cost the client its record: no socket, a refused or reset
// connection, a service of another user, build or protocol, one that dies or stalls, a busy
// one, a malformed reply: each leaves the client to transcribe in-process. Every reply is
// bounded in size and number and checked as strictly as the catalog.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "platform/api/media_time.h"
#include "platform/api/results_sequence.h"
#include "platform/contract/service_protocol.h"

namespace ondevice::platform {

class ServiceSession {
 public:
  // Connects to the service in `directory` and hands it the open `file`: the session once the
  // service opened the file as audio; none where no service of this user and build answers, or
  // it declines. Throws UndecodableAudioError when the service finds the file is no audio.
  static std::optional<ServiceSession> open(const std::filesystem::path& directory,
                                            const std::string& build, int file,
                                            const std::string& path);

  struct Outcome {
    std::vector<TranscriptionResult> results;  // in delivery order
    std::optional<MediaTime> last;             // the last sample time, if the file had one
  };
  // The transcription, whole; none on any failure of the service, which is then closed.
  std::optional<Outcome> analyze(const service::AnalyzeRequest& request);

 private:
  explicit ServiceSession(UniqueFd socket) : socket_(std::move(socket)) {}
  std::optional<Outcome> receiveOutcome(const service::AnalyzeRequest& request);
  UniqueFd socket_;
};

}  // namespace ondevice::platform
