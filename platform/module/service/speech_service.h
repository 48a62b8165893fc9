#pragma once
// The warm service (`ondevice-stt serve`): keeps models loaded and their decoders warm, and
// answers transcription requests on its socket (service_place.h), each connection on a thread
// of its own (service_session.h). It serves only peers of its own user, at most kMostConnections
// at once (others are told it is busy), and ends on SIGTERM or SIGINT once the requests in
// flight are answered, or after `idleExit` without a request. It keeps the models, never
// anything of a request.
//
//   ServiceSummary summary = runSpeechService(job);   // throws PlatformError before it serves

#include "platform/contract/speech_module.h"

namespace ondevice::platform {

inline constexpr unsigned kMostConnections = 64;

ServiceSummary runSpeechService(const ServiceJob& job);

}  // namespace ondevice::platform
