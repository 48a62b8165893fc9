#include "platform/module/decoding/pocketsphinx_decoder.h"

#include <pocketsphinx.h>
#include <sphinxbase/ckd_alloc.h>
#include <sphinxbase/err.h>
#include <sphinxbase/fe.h>
#include <sphinxbase/ngram_model.h>
#include <sys/mman.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "base/memory_limits.h"
#include "base/unique_fd.h"
#include "base/write_all.h"
#include "platform/api/platform_error.h"
#include "platform/module/decoding/front_end.h"
#include "platform/module/format/recognition_format.h"

namespace ondevice::platform {
namespace {

// The name PocketSphinx gives the search it makes from -lm. Looked up by name: ps_get_search()
// leaks the iterator it searches with.
constexpr const char* kDefaultSearch = "_default";

struct DecoderFree {
  void operator()(ps_decoder_t* decoder) const noexcept { ps_free(decoder); }
};
struct SegmentFree {
  void operator()(ps_seg_t* segment) const noexcept { ps_seg_free(segment); }
};

// Ends an utterance that was started, also when decoding it failed half way.
class UtteranceGuard {
 public:
  explicit UtteranceGuard(ps_decoder_t* decoder) : decoder_(decoder) {}
  ~UtteranceGuard() {
    if (decoder_ != nullptr) ps_end_utt(decoder_);
  }
  UtteranceGuard(const UtteranceGuard&) = delete;
  UtteranceGuard& operator=(const UtteranceGuard&) = delete;
  int end() { return ps_end_utt(std::exchange(decoder_, nullptr)); }

 private:
  ps_decoder_t* decoder_;
};

// PocketSphinx scores the first utterance a decoder decodes differently from every later one
// (the best path of a LibriVox recording 64 lower, which changed its words), and the same after
// any utterance it found words in. Each decoder therefore first decodes this: a quarter second
// of fixed noise, in which the en-us model finds words (a tenth of a second is too short to).
std::vector<int16_t> warmUpSignal() {
  std::vector<int16_t> samples(kRecognitionSampleRate / 4);
  uint32_t state = 1;
  for (int16_t& sample : samples) {
    state = state * 1664525u + 1013904223u;  // a linear congruential generator: always the same
    sample = static_cast<int16_t>((state >> 16) % 3000);
  }
  return samples;
}

// A decoder from `settings`, or null; `outOfMemory` says whether an allocation failed. Only C
// frames lie between the setjmp here and the library's longjmp on a failed allocation, so the
// jump skips no destructor.
ps_decoder_t* initCatchingAllocationFailure(cmd_ln_t* settings, bool& outOfMemory) {
  static std::jmp_buf allocationFailed;
  if (setjmp(allocationFailed) != 0) {
    ckd_set_jump(nullptr, 0);
    outOfMemory = true;
    return nullptr;
  }
  ckd_set_jump(&allocationFailed, 0);
  ps_decoder_t* decoder = ps_init(settings);
  ckd_set_jump(nullptr, 0);
  return decoder;
}

}  // namespace

void silenceRecogniser() { err_set_logfp(nullptr); }

std::unique_ptr<UtteranceDecoder> FreshDecoders::acquire() {
  // One at a time (decoders are made so anyway), so that the room is looked for once the
  // decoder made before is in place.
  const std::lock_guard oneAtATime(making_);
  if (made_ > 0 && !addressSpaceHolds(kAddressSpacePerDecoder)) {
    throw PlatformError("There is no room in the address space for another decoder");
  }
  auto decoder = std::make_unique<PocketSphinxDecoder>(model_);
  ++made_;
  return decoder;
}

ModelLoad loadModelOnce(const ModelFiles& model) {
  try {
    auto settings = settingsFor(model);
    if (!settings) return ModelLoad::refused;
    bool outOfMemory = false;
    ps_decoder_t* decoder = initCatchingAllocationFailure(settings.get(), outOfMemory);
    if (outOfMemory) {
      // The library stopped half way: what it holds, the settings among it, is not touched
      // again but left to the end of the process.
      (void)settings.release();
      return ModelLoad::outOfMemory;
    }
    if (decoder == nullptr) return ModelLoad::refused;
    ps_free(decoder);
    return ModelLoad::loaded;
  } catch (const std::bad_alloc&) {
    return ModelLoad::outOfMemory;
  }
}

bool isFillerWord(std::string_view word) {
  if (word.empty()) return true;
  const char first = word.front();
  return first == '<' || first == '[' || first == '+';
}

std::string_view baseWord(std::string_view word) {
  if (word.size() > 2 && word.back() == ')') {
    const size_t open = word.rfind('(');
    if (open != std::string_view::npos && open > 0) return word.substr(0, open);
  }
  return word;
}

struct PocketSphinxDecoder::Handles {
  RecogniserSettings config;
  std::unique_ptr<ps_decoder_t, DecoderFree> decoder;
  ngram_model_t* languageModel = nullptr;  // the search's, owned by the decoder
  FrontEnd raisedFrontEnd;                 // the front end of FrequencyWarp::raised
  Cepstra cepstra;                         // its output for one utterance
  bool adapted = false;                    // a transform of the means applied
  std::string identity;                    // the transform that puts them back
};

PocketSphinxDecoder::PocketSphinxDecoder(const ModelFiles& model)
    : handles_(std::make_unique<Handles>()) {
  handles_->config = settingsFor(model);
  if (!handles_->config) throw PlatformError("The speech recogniser rejected its settings");
  auto madeOneAtATime = frontEndsAreMadeOneAtATime();
  handles_->decoder.reset(ps_init(handles_->config.get()));
  if (!handles_->decoder) {
    throw PlatformError("Cannot load the speech model (acoustic model " + model.acousticModel +
                        ", language model " + model.languageModel + ", dictionary " +
                        model.dictionary + ")");
  }
  // A second front end with the model's own settings (the decoder's configuration holds them
  // now), its filters warped.
  handles_->raisedFrontEnd =
      makeFrontEnd(ps_get_config(handles_->decoder.get()), FrequencyWarp::raised);
  madeOneAtATime.unlock();
  if (!handles_->raisedFrontEnd) throw PlatformError("The speech recogniser rejected its settings");
  handles_->languageModel = ps_get_lm(handles_->decoder.get(), kDefaultSearch);
  if (handles_->languageModel == nullptr) {
    throw PlatformError("The speech recogniser has no language model");
  }
  decode(warmUpSignal());
}

PocketSphinxDecoder::~PocketSphinxDecoder() = default;

RecognisedSpeech PocketSphinxDecoder::decode(std::span<const int16_t> samples, FrequencyWarp warp) {
  ps_decoder_t* decoder = handles_->decoder.get();
  // A fresh stream forgets the noise level learnt from earlier utterances.
  if (ps_start_stream(decoder) < 0 || ps_start_utt(decoder) < 0) {
    throw PlatformError("The speech recogniser failed to start an utterance");
  }
  UtteranceGuard utterance(decoder);
  // The whole utterance at once: the features are normalised over it alone.
  if (warp == FrequencyWarp::none) {
    if (ps_process_raw(decoder, samples.data(), samples.size(), FALSE, TRUE) < 0) {
      throw PlatformError("The speech recogniser failed to decode the audio");
    }
  } else {
    const int32 frames = computeCepstra(handles_->raisedFrontEnd.get(), samples, handles_->cepstra);
    if (frames < 0 ||
        ps_process_cep(decoder, handles_->cepstra.rows.data(), frames, FALSE, TRUE) < 0) {
      throw PlatformError("The speech recogniser failed to decode the audio");
    }
  }
  if (utterance.end() < 0) throw PlatformError("The speech recogniser failed to finish");

  RecognisedSpeech speech;
  int32 score = 0;
  if (ps_get_hyp(decoder, &score) != nullptr) speech.score = score;
  int previousEnd = 0;
  for (std::unique_ptr<ps_seg_t, SegmentFree> segment(ps_seg_iter(decoder)); segment;) {
    const char* word = ps_seg_word(segment.get());
    int startFrame = 0;
    int endFrame = 0;
    ps_seg_frames(segment.get(), &startFrame, &endFrame);
    int32 acoustic = 0;
    int32 language = 0;
    int32 backoff = 0;
    ps_seg_prob(segment.get(), &acoustic, &language, &backoff);
    speech.acousticScore += acoustic;
    speech.pathFrames += std::max(0, endFrame - startFrame + 1);
    if (word != nullptr) {
      // Silences and fillers too: their frames tell the channel and the noise.
      const std::unique_ptr<char, decltype(&std::free)> phones(ps_lookup_word(decoder, word),
                                                               &std::free);
      speech.alignment.push_back(RecognisedSpeech::AlignedWord{
          phones ? std::string(phones.get()) : std::string(), startFrame, endFrame});
    }
    if (word != nullptr && !isFillerWord(word)) {
      if (speech.words.empty()) {
        speech.firstSample = int64_t{startFrame} * kRecognitionFrameSamples;
      } else {
        speech.text += ' ';
        speech.words.back().pauseAfterMs = std::max(0, startFrame - previousEnd - 1) * 10;
      }
      speech.text += baseWord(word);
      speech.words.push_back(SpokenWord{std::string(baseWord(word)), 0, std::nullopt});
      speech.endSample = int64_t{endFrame + 1} * kRecognitionFrameSamples;
      previousEnd = endFrame;
    }
    // ps_seg_next frees the iterator itself at the end.
    segment.reset(ps_seg_next(segment.release()));
  }
  // The odds where a sentence may end: at long pauses and after the last word.
  for (size_t i = 0; i < speech.words.size(); ++i) {
    const bool last = i + 1 == speech.words.size();
    if (!last && speech.words[i].pauseAfterMs < kScoredPauseMs) continue;
    speech.words[i].odds = sentenceOdds(
        i > 0 ? std::optional<std::string_view>(speech.words[i - 1].text) : std::nullopt,
        speech.words[i].text,
        last ? std::nullopt : std::optional<std::string_view>(speech.words[i + 1].text));
  }
  return speech;
}

void PocketSphinxDecoder::adapt(const MeanTransform* transform) {
  if (transform == nullptr && !handles_->adapted) return;
  std::string text;
  if (transform != nullptr) {
    text = transform->pocketSphinxText();
    std::vector<int> widths;
    for (const auto& stream : transform->streams) widths.push_back(stream.width);
    handles_->identity = MeanTransform::identity(widths).pocketSphinxText();
  } else {
    text = handles_->identity;
  }
  // The recogniser reads a transform from a file only: an anonymous one in memory.
  const UniqueFd file(memfd_create("ondevice-stt-mllr", MFD_CLOEXEC));
  if (!file || writeAll(file.get(), text) != 0) {
    throw PlatformError("The speech recogniser could not be given an adaptation");
  }
  const std::string path = "/proc/self/fd/" + std::to_string(file.get());
  ps_mllr_t* mllr = ps_mllr_read(path.c_str());
  if (mllr == nullptr) throw PlatformError("The speech recogniser could not read an adaptation");
  // The decoder takes the transform over, and reads its model's means from their file again.
  ps_update_mllr(handles_->decoder.get(), mllr);
  handles_->adapted = transform != nullptr;
}

std::optional<SentenceOdds> PocketSphinxDecoder::sentenceOdds(
    std::optional<std::string_view> before, std::string_view word,
    std::optional<std::string_view> next) {
  ps_decoder_t* decoder = handles_->decoder.get();
  ngram_model_t* model = handles_->languageModel;
  if (model == nullptr) return std::nullopt;
  logmath_t* logmath = ps_get_logmath(decoder);
  const std::string previous(before.value_or("<s>"));
  const std::string current(word);
  // log10 P(following | previous current); the history goes most recent first.
  const auto probability = [&](const char* following, const char* last, const char* first) {
    return logmath_log_to_log10(logmath, ngram_probv(model, following, last, first, nullptr));
  };
  SentenceOdds odds;
  odds.end = probability("</s>", current.c_str(), previous.c_str());
  if (next) {
    const std::string following(*next);
    odds.nextGoesOn = probability(following.c_str(), current.c_str(), previous.c_str());
    odds.nextOpens = probability(following.c_str(), "<s>", nullptr);
  }
  return odds;
}

}  // namespace ondevice::platform
