#pragma once
// WebRTC's noise suppressor over 16 kHz mono samples, one 10 ms frame at a time: it follows the
// steady background of the recording (hiss, hum, fan, traffic) and takes it out of each frame.
// It holds a little of the audio back: its output lags its input by kDelaySamples.
//
//   NoiseSuppressor suppressor;               // throws PlatformError when it cannot start
//   suppressor.process(frame);                // kRecognitionFrameSamples samples, in place

#include <cstdint>
#include <memory>
#include <span>

#include "platform/module/format/recognition_format.h"

namespace ondevice::platform {

class NoiseSuppressor {
 public:
  static constexpr int kDelaySamples = 96;

  NoiseSuppressor();
  ~NoiseSuppressor();
  NoiseSuppressor(const NoiseSuppressor&) = delete;
  NoiseSuppressor& operator=(const NoiseSuppressor&) = delete;

  // Throws PlatformError when the suppressor fails.
  void process(std::span<int16_t, kRecognitionFrameSamples> frame);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace ondevice::platform
