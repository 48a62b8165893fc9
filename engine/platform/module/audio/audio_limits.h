#pragma once
// Bounds on what an audio file may ask of the decoder.

namespace ondevice::platform {

// Far above any audio format's rate (768 kHz is the highest in use). The resampler's cost grows
// with the rate: a few hundred bytes of WAV claiming 1 GHz would make it take a gigabyte of
// memory and seconds of work before producing one sample.
inline constexpr int kHighestSampleRate = 1000000;

// Failures of the decoder in a row without a new packet in between; past them the decoder is
// stuck on bad data and the audio ends there, so that it cannot keep the read going.
inline constexpr int kMostBrokenFrames = 64;

// How far a frame may start after the end of the one before, by its timestamp, before the
// difference counts as a gap left by audio that did not decode: a little over the rounding of
// the coarsest time bases (milliseconds).
inline constexpr double kLargestTimestampJitterSeconds = 0.002;

// The longest gap that is kept in the timeline when the container states no length to check it
// against; a timestamp further ahead is taken for damage of its own, not for lost audio.
inline constexpr double kLongestUncheckedGapSeconds = 60.0;

}  // namespace ondevice::platform
