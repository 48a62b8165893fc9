#pragma once
// An utterance as the voice activity detector cuts it from the stream and the decoders and the
// text stage read it: its samples, where they lie in the stream, and why it ended (what follows
// an utterance tells whether a sentence may end there).
//
//   Utterance utterance{16000, samples, UtteranceEnd::pause};   // starts 1 s into the stream

#include <cstdint>
#include <vector>

namespace ondevice::platform {

// Why the voice activity detector ended the utterance.
enum class UtteranceEnd {
  pause,          // a pause of 0.4 s or more
  pauseWhenLong,  // a shorter pause, once the utterance had grown long
  cut,            // no pause at all: cut at its quietest stretch to bound its length
  endOfStream,    // the audio ended
};

struct Utterance {
  int64_t startSample = 0;  // position of samples[0] in the stream, 16 kHz
  std::vector<int16_t> samples;
  UtteranceEnd end = UtteranceEnd::pause;
};

}  // namespace ondevice::platform
