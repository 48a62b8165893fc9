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
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/platform/model_parts.h"
#include "engine/platform/module/text/spoken_segment.h"

namespace ondevice::platform {

struct RecognisedSpeech {
  std::string text;         // words joined by one space; fillers and silence removed
  // The same words with the pauses heard after them, and the language model's odds of a
  // sentence end after the last word and after each word followed by a long pause.
  std::vector<SpokenWord> words;
  int64_t firstSample = 0;  // where the first word starts, relative to the utterance (16 kHz)
  int64_t endSample = 0;    // where the last word ends
  // How well the best path fits the audio (a log probability; higher is better); none when the
  // recogniser found no path.
  std::optional<int64_t> score;
};

// How the front end reads the spectrum. `raised` reads every frequency 11 % higher, which
// brings a voice lower than the model knows (a deep voice, a recording played slowly) to where
// the model expects it.
enum class FrequencyWarp { none, raised };

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

class PocketSphinxDecoder {
 public:
  explicit PocketSphinxDecoder(const ModelFiles& model);
  ~PocketSphinxDecoder();
  PocketSphinxDecoder(const PocketSphinxDecoder&) = delete;
  PocketSphinxDecoder& operator=(const PocketSphinxDecoder&) = delete;

  // Decodes 16 kHz mono samples as one utterance; throws PlatformError when the decoder fails.
  RecognisedSpeech decode(std::span<const int16_t> samples,
                          FrequencyWarp warp = FrequencyWarp::none);

  // Whether the language model holds `word` (a dictionary word without its variant suffix): the
  // search enters no other word of the dictionary.
  bool knows(const std::string& word) const;

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

// Pauses at least this long inside an utterance are scored for a sentence end (ms).
inline constexpr int kScoredPauseMs = 150;

// Whether a recogniser word is a filler or silence marker (<s>, </s>, <sil>, [NOISE], ++UM++).
bool isFillerWord(std::string_view word);
// A dictionary word without its pronunciation variant suffix: "read(2)" gives "read".
std::string_view baseWord(std::string_view word);

}  // namespace ondevice::platform
