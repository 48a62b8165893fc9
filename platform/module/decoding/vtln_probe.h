#pragma once
// The VTLN probe: vocal tract length normalisation, chosen once per run. The first utterances of
// a run (kProbeUtterances of them, or fewer once they hold kProbeSamples together) are decoded
// twice, with the spectrum as it is and raised
// (FrequencyWarp::raised), and the raised reading is used for them and for every later utterance
// when the recogniser scores it clearly higher over all of them. A low voice, or a recording
// played slowly, is then heard as the model knows voices (recordings at speed 0.9: 60.6 % of the
// words wrong, 36.6 % so), for one more decoding of the first 20 s. The choice depends on those
// utterances alone, so the output stays the same whatever the number of decoders.
//
//   VtlnProbe probe;
//   if (probe.admit(utterance.samples.size())) { ... decode it both ways ... }
//   probe.close();                                   // the stream ended before the probe was full
//   FrequencyWarp warp = chooseFrequencyWarp(readings);   // once every reading is in
//
// Pure: no recogniser, no threads; the decoder pool holds its lock around it.

#include <cstdint>
#include <optional>
#include <span>

#include "platform/module/decoding/pocketsphinx_decoder.h"
#include "platform/module/format/recognition_format.h"

namespace ondevice::platform {

// Which utterances join the probe.
class VtlnProbe {
 public:
  static constexpr int64_t kProbeSamples = 20 * kRecognitionSampleRate;
  // At most as many as may be in flight with one decoder, less one, so that the probe is
  // complete before a submission has to wait for its results.
  static constexpr int64_t kProbeUtterances = 3;

  // Whether the next utterance of the stream, `samples` long, joins the probe. The utterance
  // that fills the probe still joins; none after it does.
  bool admit(int64_t samples);
  // No utterance joins any more: the stream has ended.
  void close() { open_ = false; }
  bool isOpen() const { return open_; }

 private:
  bool open_ = true;
  int64_t utterances_ = 0;
  int64_t samples_ = 0;
};

// Both readings of one utterance of the probe: the recogniser's scores of its best path (log
// probabilities, higher is better), none where it found no path.
struct ProbeReadings {
  int64_t frames = 0;  // the utterance's length in whole 10 ms frames
  std::optional<int64_t> plainScore;
  std::optional<int64_t> raisedScore;
};

// How much higher the raised reading must score per 10 ms frame (in the recogniser's log
// units). Measured per recording over bench/accuracy's 22 conditions: slowed speech scored 1.3
// to 5 higher raised; other speech mostly less than 1, and raising it cost words (on normal
// speech 373 words wrong never raised, 388 with this margin, 394 without one; slowed speech 115,
// 83 and 83). Without it, the five recordings read one after another were raised on the
// strength of the first (0.5 higher) and lost 5 more words of 71.
inline constexpr int64_t kRaisedGainPerFrame = 1;

// The reading for the whole run: raised when, over the utterances where both readings found a
// path, the raised one scores more than kRaisedGainPerFrame per frame higher; else as it is.
FrequencyWarp chooseFrequencyWarp(std::span<const ProbeReadings> readings);

}  // namespace ondevice::platform
