#pragma once
// The platform's warm service, as the front end starts it (`ondevice-stt serve`): it keeps the
// speech models loaded for the transcriptions of its user, which hand it their audio when it
// runs, and ends when told to or when idle.
//
//   ServiceSummary summary = service.serve(ServiceOptions{{"en_US"}, std::chrono::seconds(600)});
//   summary.requests;   // transcriptions answered
//   summary.stopped;    // "signal" or "idle"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace ondevice::platform {

struct ServiceOptions {
  std::vector<std::string> locales;  // supported identifiers whose models load at the start
  std::chrono::seconds idleExit{600};
};

struct ServiceSummary {
  int64_t requests = 0;
  std::string stopped;
};

class SpeechService {
 public:
  virtual ~SpeechService() = default;
  // Serves until stopped; throws PlatformError when it cannot start (no runtime directory,
  // another service runs, a locale's model is not installed).
  virtual ServiceSummary serve(const ServiceOptions& options) = 0;
};

}  // namespace ondevice::platform
