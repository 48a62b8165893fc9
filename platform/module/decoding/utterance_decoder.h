#pragma once
// What the decoder pool asks of a decoder and of where its decoders come from, so that the
// pool's threads, ordering, back-pressure and VTLN probe run the same with PocketSphinx
// (pocketsphinx_decoder.h), with the warm decoders a service keeps, or with a test's own.
//
//   class Fresh final : public DecoderSource {
//     std::unique_ptr<UtteranceDecoder> acquire() override { return load(model); }
//   };
//   DecoderPool pool(std::make_shared<Fresh>(), 2, deliver);

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/module/decoding/mean_transform.h"
#include "platform/module/text/spoken_segment.h"

namespace ondevice::platform {

struct RecognisedSpeech {
  std::string text;  // words joined by one space; fillers and silence removed
  // The same words with the pauses heard after them, and the language model's odds of a
  // sentence end after the last word and after each word followed by a long pause.
  std::vector<SpokenWord> words;
  int64_t firstSample = 0;  // where the first word starts, relative to the utterance (16 kHz)
  int64_t endSample = 0;    // where the last word ends
  // How well the best path fits the audio (a log probability; higher is better); none when the
  // recogniser found no path.
  std::optional<int64_t> score;
  // The acoustic part of that score alone, over the path's words, fillers and silences, and the
  // frames the path spans.
  int64_t acousticScore = 0;
  int64_t pathFrames = 0;
  // The recognised words as the recogniser's dictionary spells them (phones separated by
  // blanks) and the 10 ms frames of the utterance each spans, first and last; what speaker
  // adaptation aligns (adaptation/mllr_estimation.h).
  struct AlignedWord {
    std::string phones;
    int64_t firstFrame = 0;
    int64_t lastFrame = 0;
  };
  std::vector<AlignedWord> alignment;
};

// Vocal tract length normalisation: how the front end reads the spectrum. `raised` reads every
// frequency 11 % higher, which brings a voice lower than the model knows (a deep voice, a
// recording played slowly) to where the model expects it.
enum class FrequencyWarp { none, raised };

// Decodes whole utterances; used by one thread at a time. Its text for an utterance never
// depends on what it decoded before.
class UtteranceDecoder {
 public:
  virtual ~UtteranceDecoder() = default;
  // Decodes 16 kHz mono samples as one utterance; throws PlatformError when decoding fails.
  virtual RecognisedSpeech decode(std::span<const int16_t> samples, FrequencyWarp warp) = 0;
  // Decodes from now on with the model's means moved by `transform`, or as they are with none;
  // throws PlatformError when the decoder cannot take the transform.
  virtual void adapt(const MeanTransform* transform) = 0;
};

// Where a pool's workers get their decoders. Both calls come from the workers' threads.
class DecoderSource {
 public:
  virtual ~DecoderSource() = default;
  // A decoder for one worker; throws PlatformError when none can be made.
  virtual std::unique_ptr<UtteranceDecoder> acquire() = 0;
  // Takes back a decoder its worker is done with, after a run that ended well or badly (none
  // when its decoding failed); a source that keeps decoders warm keeps it for the next run.
  virtual void release(std::unique_ptr<UtteranceDecoder> decoder) noexcept { decoder.reset(); }
  // Whether its decoders are loaded already, so that a pool may use several at once from the
  // start, for a short file too, rather than only where the audio repays a load.
  virtual bool keepsDecodersWarm() const { return false; }
};

}  // namespace ondevice::platform
