#pragma once
// The form of the audio the recogniser hears: 16 kHz mono 16-bit samples, in frames of 10 ms.
// The frame is the recogniser's own (its word times count frames), and the noise suppressor,
// the noise gate and voice activity detection work in the same frames.
//
//   int64_t samples = frames * kRecognitionFrameSamples;   // 100 frames a second

namespace ondevice::platform {

inline constexpr int kRecognitionSampleRate = 16000;
inline constexpr int kRecognitionFrameSamples = kRecognitionSampleRate / 100;

}  // namespace ondevice::platform
