#pragma once
// One connection to the service: one transcription, as contract/service_protocol.h lays it out.
// The audio is read through the descriptor the client passed, never through its path; the model
// is the one the client named, loaded from exactly the files it saw, or the request is declined;
// the decoding waits for a decoder in turn with the service's other requests. Nothing of the
// request outlives the connection. A malformed or unexpected message ends the connection (the
// client, if it is one, transcribes in-process), and nothing a peer sends ends the service.
//
//   serveConnection(std::move(connection), context);   // on a thread of its own; never throws

#include <atomic>
#include <cstdint>
#include <string>

#include "base/unique_fd.h"
#include "platform/module/service/decode_slots.h"
#include "platform/module/service/warm_models.h"

namespace ondevice::platform {

struct ServiceContext {
  std::string build;  // the module's soname: only clients of the same build are served
  WarmModels& models;
  DecodeSlots& slots;
  std::atomic<int64_t> answered{0};  // transcriptions answered whole
};

void serveConnection(UniqueFd connection, ServiceContext& context) noexcept;

}  // namespace ondevice::platform
