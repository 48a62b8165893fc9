#pragma once
// One PocketSphinx decoder with a loaded model, decoding whole utterances. Each utterance is
// decoded on its own (features normalised over the utterance alone), and every decoder has
// decoded the same warm-up signal before its first utterance, so the text of an utterance never
// depends on what the same decoder decoded before: the threads that share the work can divide
// it any way and still agree with a single decoder.
//
//   PocketSphinxDecoder decoder(model);          // loads the model; throws PlatformError
//   RecognisedSpeech speech = decoder.decode(samples);
//   speech.text;                                 // "he was not an ill disposed young man"
//
// A decoder is used by one thread at a time.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/contract/model_parts.h"
#include "platform/module/decoding/utterance_decoder.h"

namespace ondevice::platform {

// Switches the recogniser's own logging off for the process, before any decoder exists
// (module/speech_libraries.h): per decoder, PocketSphinx would set a process-wide log file from
// each thread, which races.
void silenceRecogniser();

// How loading a model ended, for a process that loads it to see whether it can
// (model_load_check.h).
enum class ModelLoad {
  loaded,
  refused,      // the recogniser gave no decoder
  outOfMemory,  // an allocation failed (where PocketSphinx would print a line and end the process)
};

// Loads `model` with the settings transcriptions use and frees it again. Only for a process that
// runs no other thread and loads nothing else: the escape from a failed allocation is
// process-wide.
ModelLoad loadModelOnce(const ModelFiles& model);

class PocketSphinxDecoder final : public UtteranceDecoder {
 public:
  // Loads the model. Loads run one at a time in the process: the front ends they make share
  // PocketSphinx's process-wide warp settings, and PocketSphinx ends the process from the
  // loading thread on a model it cannot read, which two threads must never do at once (glibc's
  // exit() is not safe against a concurrent one).
  explicit PocketSphinxDecoder(const ModelFiles& model);
  ~PocketSphinxDecoder() override;
  PocketSphinxDecoder(const PocketSphinxDecoder&) = delete;
  PocketSphinxDecoder& operator=(const PocketSphinxDecoder&) = delete;

  // Decodes 16 kHz mono samples as one utterance; throws PlatformError when the decoder fails.
  RecognisedSpeech decode(std::span<const int16_t> samples,
                          FrequencyWarp warp = FrequencyWarp::none) override;
  void adapt(const MeanTransform* transform) override;

  // The odds of a sentence end after `word` (with `before` the word before it, or none at the
  // start of an utterance), and of `next` going on or opening a sentence, from this decoder's
  // language model; none when it has no n-gram model. Only on the thread that decodes with
  // this decoder: the model writes caches on every lookup.
  std::optional<SentenceOdds> sentenceOdds(std::optional<std::string_view> before,
                                           std::string_view word,
                                           std::optional<std::string_view> next);

 private:
  struct Handles;
  std::unique_ptr<Handles> handles_;
};

// A new decoder of `model` for every worker. Past the first, a decoder is only made where the
// address space holds another one (ulimit -v, -d): PocketSphinx ends the process on an
// allocation that fails while it loads, so the room is looked for first, and without it
// acquire() throws and the pool goes on with the decoders it has.
class FreshDecoders final : public DecoderSource {
 public:
  // What one more decoder maps: the model's tables (the en-us model loads within 128 MiB of
  // address space), its thread's stack and a margin; measured, a second decoder added 112 MB.
  static constexpr std::uint64_t kAddressSpacePerDecoder = 160ull << 20;

  explicit FreshDecoders(ModelFiles model) : model_(std::move(model)) {}
  std::unique_ptr<UtteranceDecoder> acquire() override;

 private:
  const ModelFiles model_;
  std::mutex making_;
  unsigned made_ = 0;  // under making_
};

// Pauses at least this long inside an utterance are scored for a sentence end (ms).
inline constexpr int kScoredPauseMs = 150;

// Whether a recogniser word is a filler or silence marker (<s>, </s>, <sil>, [NOISE], ++UM++).
bool isFillerWord(std::string_view word);
// A dictionary word without its pronunciation variant suffix: "read(2)" gives "read".
std::string_view baseWord(std::string_view word);

}  // namespace ondevice::platform
