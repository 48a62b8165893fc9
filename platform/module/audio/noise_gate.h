#pragma once
// Sends the noisy stretches of a 16 kHz mono stream through the noise suppressor and passes the
// rest through untouched. A suppressor helps the recogniser in steady noise and costs it words
// on clean speech, so it is only used where the recording is noisy.
//
//   NoiseGate gate;
//   for (auto& chunk : audio) gate.push(chunk, out);   // appends what is ready to `out`
//   gate.finish(out);                                  // and the rest
//
// The stream is decided a block at a time (kBlockSamples), with the block before it as context:
// noisy when the loud frames (95th percentile of the 10 ms frame levels) lie less than
// kNoisySpreadDb above the quiet ones (5th percentile), the pauses being filled with noise. So
// only about two blocks of samples are held, and the output depends on the samples alone, not
// on how they arrive. Where the decision changes, one stream fades into the other over 10 ms.
// The output has exactly as many samples as the input, in place.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/module/audio/noise_suppressor.h"
#include "platform/module/format/recognition_format.h"

namespace ondevice::platform {

class NoiseGate {
 public:
  static constexpr int kBlockSamples = 5 * kRecognitionSampleRate;
  // Measured on the degraded sets of bench/accuracy: 10.3 to 24.1 dB for every recording with
  // 5 to 10 dB of white, pink, brown noise or other talkers, 24.4 to 50 dB for every other
  // condition (clean, codecs, telephone band, quiet, slow, reverberant); clean read speech
  // without pauses, 28 to 33 dB.
  static constexpr double kNoisySpreadDb = 22;

  NoiseGate() = default;
  NoiseGate(const NoiseGate&) = delete;
  NoiseGate& operator=(const NoiseGate&) = delete;

  // Appends to `out` the samples that are decided; throws PlatformError when the suppressor
  // fails.
  void push(std::span<const int16_t> samples, std::vector<int16_t>& out);
  // Appends every sample still held.
  void finish(std::vector<int16_t>& out);
  // Whether any stretch so far was noisy (and went through the suppressor).
  bool heardNoise() const { return heardNoise_; }

 private:
  void suppress(std::span<const int16_t> frame);
  void emit(size_t count, std::vector<int16_t>& out);
  bool noisy(std::span<const double> levels) const;

  NoiseSuppressor suppressor_;
  std::vector<int16_t> raw_;         // samples not handed out yet
  std::vector<int16_t> suppressed_;  // the same samples suppressed, as far as they are ready
  std::vector<int16_t> partial_;     // the start of the next frame
  size_t delayLeft_ = NoiseSuppressor::kDelaySamples;
  std::vector<double> levels_;      // of the frames of the blocks before and the held one
  size_t previousBlockFrames_ = 0;  // how many of levels_ belong to the block before
  bool previousNoisy_ = false;
  bool heardNoise_ = false;
  bool first_ = true;
};

}  // namespace ondevice::platform
