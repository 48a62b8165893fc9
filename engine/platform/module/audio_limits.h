#pragma once
// Bounds on what an audio file may ask of the decoder.

namespace ondevice::platform {

// Far above any audio format's rate (768 kHz is the highest in use). The resampler's cost grows
// with the rate: a few hundred bytes of WAV claiming 1 GHz would make it take a gigabyte of
// memory and seconds of work before producing one sample.
inline constexpr int kHighestSampleRate = 1000000;

// Broken frames in a row that are skipped; past them the audio ends there, so that a decoder
// stuck on bad data cannot keep the read going.
inline constexpr int kMostBrokenFrames = 64;

}  // namespace ondevice::platform
