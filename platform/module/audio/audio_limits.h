#pragma once
// Bounds on what an audio file may ask of the decoder.

#include <cstdint>

namespace ondevice::platform {

// Far above any audio format's rate (768 kHz is the highest in use). The resampler's cost grows
// with the rate: a few hundred bytes of WAV claiming 1 GHz would make it take a gigabyte of
// memory and seconds of work before producing one sample.
inline constexpr int kHighestSampleRate = 1000000;

// Far below any audio format's rate (8 kHz telephone audio is the lowest in common use). Each
// sample of a file at 1 Hz would become 16 000 of the recogniser's: a few kilobytes of it are
// hours of audio.
inline constexpr int kLowestSampleRate = 1000;

// The most 16 kHz samples one read hands out (a second), whatever the ratio of the rates, the
// size of the decoder's frames or the length of a gap: memory stays bounded by it.
inline constexpr int kMostSamplesPerRead = 16000;

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

// How much audio one file may hold, gaps included. A damaged or crafted file may go on far
// longer than its size suggests (the demuxers that synthesize sound from a script are refused
// before, audio_demuxer.cpp). Past these bounds the file is refused rather than read on.
struct AudioLengthBounds {
  // Whatever the file says: a day.
  int64_t longestSeconds = 24 * 60 * 60;
  // Where the container states the stream's length (not an estimate from its bit rate): twice
  // that length and this much more. Two files joined end to end, or a header a few minutes off,
  // still read whole.
  int64_t statedLengthMarginSeconds = 10 * 60;
};

}  // namespace ondevice::platform
