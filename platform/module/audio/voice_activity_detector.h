#pragma once
// Voice activity detection: cuts a stream of 16 kHz mono samples into utterances at silences,
// with an energy detector that follows the background level. The cuts depend on the samples
// alone (not on how they are chunked, nor on anything else), so that any number of decoders
// sees the same utterances.
//
//   VoiceActivityDetector detector;
//   for (auto& chunk : audio) detector.push(chunk, [](Utterance u) { decode(u); });
//   detector.finish([](Utterance u) { decode(u); });
//
// Memory stays bounded: silence is dropped as it passes, and an utterance is cut, at its
// quietest stretch, once it reaches the longest length allowed. An utterance that ended at a
// pause is handed out once the next speech starts, or marked the end of the stream when none
// does, so that its end says whether anything follows it.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "platform/module/format/recognition_format.h"
#include "platform/module/format/utterance.h"

namespace ondevice::platform {

// The two thresholds were measured on read speech made worse (bench/accuracy): 12 dB above the
// background dropped whole stretches of speech at 10 dB signal-to-noise ratio (white noise 97 %
// of words wrong, pink 72 %, other talkers 90 %; at 6 dB: 92, 68, 79), and 30 dB dropped most of
// a recording 40 dB below full level (76 %; at 20 dB: 32 %). Clean speech cuts the same.
// Every length is counted in the recognition format's 10 ms frames.
struct VoiceActivitySettings {
  double speechAboveFloorDb = 6;  // a frame this much above the background is speech
  double quietestSpeechDb = 20;   // and never quieter than this (dB over 1 LSB, RMS)
  int floorWindowFrames = 1000;   // the background is the level that
  double floorQuantile = 0.05;    // this share of the recent frames stays under
  int startWindowFrames = 20;     // speech starts when this window holds
  int startSpeechFrames = 8;      // at least this many speech frames
  int endSilenceFrames = 40;      // speech ends after this much silence
  int leadFrames = 25;            // kept before the first speech frame
  int trailFrames = 25;           // kept after the last speech frame
  int softMaxFrames = 1500;       // past this, a shorter pause ends the utterance
  int softEndSilenceFrames = 15;
  int hardMaxFrames = 2500;       // never longer than this: cut at the quietest frame
  int hardCutSearchFrames = 500;  // looked for within the utterance's last frames
};

class VoiceActivityDetector {
 public:
  using Sink = std::function<void(Utterance)>;

  explicit VoiceActivityDetector(VoiceActivitySettings settings = {});

  void push(std::span<const int16_t> samples, const Sink& sink);
  // Ends the stream: an utterance still open is handed out.
  void finish(const Sink& sink);

 private:
  void onFrame(const Sink& sink);
  void emit(int64_t endSample, UtteranceEnd end, const Sink& sink);
  void handOutHeld(const Sink& sink);
  void dropBefore(int64_t frame);
  int64_t quietestFrame(int64_t from, int64_t to) const;
  double backgroundDb(double levelDb);

  VoiceActivitySettings settings_;
  // Samples of the stream from bufferStartFrame_ on (whole frames, then a partial one).
  std::vector<int16_t> buffer_;
  int64_t bufferStartFrame_ = 0;
  int64_t framesSeen_ = 0;
  std::vector<double> levels_;  // energy (dB) of each buffered whole frame
  std::vector<bool> recent_;    // speech flags of the last startWindowFrames frames (ring)
  int recentSpeech_ = 0;
  // Histogram of the levels of the last floorWindowFrames frames, and their bins (ring).
  std::vector<int> levelCounts_;
  std::vector<int> levelBins_;

  bool inSpeech_ = false;
  int64_t utteranceStartFrame_ = 0;
  int64_t lastSpeechFrame_ = 0;
  int64_t previousEndFrame_ = 0;
  std::optional<Utterance> held_;  // ended at a pause; handed out when the next speech starts
};

}  // namespace ondevice::platform
