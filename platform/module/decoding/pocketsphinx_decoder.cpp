#include "platform/module/decoding/pocketsphinx_decoder.h"

#include <pocketsphinx.h>
#include <sphinxbase/ckd_alloc.h>
#include <sphinxbase/err.h>
#include <sphinxbase/fe.h>
#include <sphinxbase/ngram_model.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <mutex>
#include <new>
#include <string_view>
#include <utility>

#include "base/memory_limits.h"
#include "platform/api/platform_error.h"
#include "platform/module/format/recognition_format.h"

namespace ondevice::platform {
namespace {

// Search settings, measured on the five LibriVox recordings of pocketsphinx-testdata, decoded
// one by one (71 words; word errors / CPU seconds per 84 s of speech on one core):
//   library defaults                                        21 errors  16.9 s
//   no second flat pass (-fwdflat no)                       19         13.5
//   and no lattice best path (-bestpath no)                 15         13.0
//   and top 2 Gaussians (-topn 2)                           16         11.5
//   and -maxhmmpf 10000 -wbeam 1e-20 (these settings)       16         10.0
//   narrower beams (-beam/-pbeam 1e-45)                     19 (23 joined)  8.6
// The utterances come cut at pauses, which is where the second pass would earn its cost.
// The lattice best path is back on: the same 16 errors on the LibriVox recordings, but on short
// phrases it puts right what the first pass gets wrong (the cards recordings: 4 of 21 words
// wrong without it, 1 with it; over bench/accuracy's 22 degraded conditions 27.7 % of the cards
// words against 33.1 %, LibriVox 47.2 % against 46.4 %), for 7 % more CPU time.
// Silence removal inside the front end is off: voice activity detection has already cut at silences, and
// frame numbers must stay times within the utterance.
constexpr std::pair<const char*, const char*> kSearchSettings[] = {
    {"-fwdflat", "no"},  {"-bestpath", "yes"},   {"-topn", "2"},
    {"-wbeam", "1e-20"}, {"-maxhmmpf", "10000"}, {"-remove_silence", "no"},
};

// The name PocketSphinx gives the search it makes from -lm. Looked up by name: ps_get_search()
// leaks the iterator it searches with.
constexpr const char* kDefaultSearch = "_default";

struct DecoderFree {
  void operator()(ps_decoder_t* decoder) const noexcept { ps_free(decoder); }
};
struct ConfigFree {
  void operator()(cmd_ln_t* config) const noexcept { cmd_ln_free_r(config); }
};
struct SegmentFree {
  void operator()(ps_seg_t* segment) const noexcept { ps_seg_free(segment); }
};
struct FrontEndFree {
  void operator()(fe_t* frontEnd) const noexcept { fe_free(frontEnd); }
};

// The warp of FrequencyWarp::raised: the front end's filters are laid 1 / 0.9 higher.
//
// PocketSphinx keeps a warp's parameters in process-wide variables, read when a front end lays
// out its filters: every front end made without a warp (each decoder's own) marks them neutral,
// and a parameter string equal to the last one it parsed is not parsed again, so they stay
// neutral. Decoders, and with them their front ends, are therefore made one at a time, and each
// raised one is given a string that differs from the one before (the same number, with or
// without a trailing blank). Making them one at a time also keeps two threads from ending the
// process at once on a model PocketSphinx cannot read.
constexpr const char* kRaisedWarpParameters[] = {"0.9", "0.9 "};
std::mutex frontEndsBeingMade;
size_t raisedFrontEndsMade = 0;  // under frontEndsBeingMade

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

// The features of one utterance, held for the decoder to read.
struct Features {
  std::vector<mfcc_t> values;
  std::vector<mfcc_t*> rows;  // one per 10 ms frame, into values
};

// The features of `samples` through `frontEnd`; their number of frames, or -1 on failure.
int32 computeFeatures(fe_t* frontEnd, std::span<const int16_t> samples, Features& features) {
  // A fresh stream forgets the noise level learnt from earlier utterances.
  fe_start_stream(frontEnd);
  size_t left = samples.size();
  int32 frames = 0;
  if (fe_process_frames(frontEnd, nullptr, &left, nullptr, &frames, nullptr) < 0) return -1;
  const auto width = static_cast<size_t>(fe_get_output_size(frontEnd));
  const auto rows = static_cast<size_t>(frames) + 1;  // and the last partial frame
  features.values.assign(rows * width, 0);
  features.rows.resize(rows);
  for (size_t row = 0; row < rows; ++row) {
    features.rows[row] = features.values.data() + row * width;
  }
  const int16* next = samples.data();
  left = samples.size();
  if (fe_start_utt(frontEnd) < 0 ||
      fe_process_frames(frontEnd, &next, &left, features.rows.data(), &frames, nullptr) < 0) {
    return -1;
  }
  int32 last = 0;
  if (fe_end_utt(frontEnd, features.rows[static_cast<size_t>(frames)], &last) < 0) {
    return -1;
  }
  return frames + last;
}

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

// The recogniser's settings for `model`; null when it rejects them.
std::unique_ptr<cmd_ln_t, ConfigFree> settingsFor(const ModelFiles& model) {
  std::vector<std::string> arguments = {"-hmm",  model.acousticModel, "-lm", model.languageModel,
                                        "-dict", model.dictionary};
  for (const auto& [name, value] : kSearchSettings) {
    arguments.emplace_back(name);
    arguments.emplace_back(value);
  }
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  return std::unique_ptr<cmd_ln_t, ConfigFree>(
      cmd_ln_parse_r(nullptr, ps_args(), static_cast<int32>(argv.size()), argv.data(), TRUE));
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
  std::unique_ptr<cmd_ln_t, ConfigFree> config;
  std::unique_ptr<ps_decoder_t, DecoderFree> decoder;
  ngram_model_t* languageModel = nullptr;              // the search's, owned by the decoder
  std::unique_ptr<fe_t, FrontEndFree> raisedFrontEnd;  // the front end of FrequencyWarp::raised
  Features features;                                   // its output for one utterance
};

PocketSphinxDecoder::PocketSphinxDecoder(const ModelFiles& model)
    : handles_(std::make_unique<Handles>()) {
  handles_->config = settingsFor(model);
  if (!handles_->config) throw PlatformError("The speech recogniser rejected its settings");
  std::unique_lock madeOneAtATime(frontEndsBeingMade);
  handles_->decoder.reset(ps_init(handles_->config.get()));
  if (!handles_->decoder) {
    throw PlatformError("Cannot load the speech model (acoustic model " + model.acousticModel +
                        ", language model " + model.languageModel + ", dictionary " +
                        model.dictionary + ")");
  }
  // A second front end with the model's own settings (the decoder's configuration holds them
  // now), its filters warped. The warp is read when the front end is made, so the setting is
  // put back at once; -warp_type keeps its default, inverse_linear.
  cmd_ln_t* loaded = ps_get_config(handles_->decoder.get());
  cmd_ln_set_str_r(loaded, "-warp_params", kRaisedWarpParameters[raisedFrontEndsMade++ % 2]);
  handles_->raisedFrontEnd.reset(fe_init_auto_r(loaded));
  cmd_ln_set_str_r(loaded, "-warp_params", nullptr);
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
    const int32 frames =
        computeFeatures(handles_->raisedFrontEnd.get(), samples, handles_->features);
    if (frames < 0 ||
        ps_process_cep(decoder, handles_->features.rows.data(), frames, FALSE, TRUE) < 0) {
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
    if (word != nullptr && !isFillerWord(word)) {
      int startFrame = 0;
      int endFrame = 0;
      ps_seg_frames(segment.get(), &startFrame, &endFrame);
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
