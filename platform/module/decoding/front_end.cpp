#include "platform/module/decoding/front_end.h"

#include <string>
#include <utility>

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
// Silence removal inside the front end is off: voice activity detection has already cut at
// silences, and frame numbers must stay times within the utterance.
constexpr std::pair<const char*, const char*> kSearchSettings[] = {
    {"-fwdflat", "no"},  {"-bestpath", "yes"},   {"-topn", "2"},
    {"-wbeam", "1e-20"}, {"-maxhmmpf", "10000"}, {"-remove_silence", "no"},
};

// The warp of FrequencyWarp::raised: the front end's filters are laid 1 / 0.9 higher.
constexpr const char* kRaisedWarpParameters[] = {"0.9", "0.9 "};
std::mutex frontEndsBeingMade;
size_t raisedFrontEndsMade = 0;  // under frontEndsBeingMade

}  // namespace

RecogniserSettings settingsFor(const ModelFiles& model, bool withModelFeatures) {
  std::vector<std::string> arguments = {"-hmm",  model.acousticModel, "-lm", model.languageModel,
                                        "-dict", model.dictionary};
  for (const auto& [name, value] : kSearchSettings) {
    arguments.emplace_back(name);
    arguments.emplace_back(value);
  }
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  RecogniserSettings settings(
      cmd_ln_parse_r(nullptr, ps_args(), static_cast<int32>(argv.size()), argv.data(), TRUE));
  if (settings && withModelFeatures) {
    const std::string features = model.acousticModel + "/feat.params";
    // On failure the library may have freed the settings itself: they are let go, not freed.
    if (cmd_ln_parse_file_r(settings.get(), ps_args(), features.c_str(), FALSE) == nullptr) {
      (void)settings.release();
      return nullptr;
    }
  }
  return settings;
}

std::unique_lock<std::mutex> frontEndsAreMadeOneAtATime() {
  return std::unique_lock(frontEndsBeingMade);
}

FrontEnd makeFrontEnd(cmd_ln_t* settings, FrequencyWarp warp) {
  if (warp == FrequencyWarp::none) return FrontEnd(fe_init_auto_r(settings));
  // The warp is read when the front end is made, so the setting is put back at once;
  // -warp_type keeps its default, inverse_linear.
  cmd_ln_set_str_r(settings, "-warp_params", kRaisedWarpParameters[raisedFrontEndsMade++ % 2]);
  FrontEnd frontEnd(fe_init_auto_r(settings));
  cmd_ln_set_str_r(settings, "-warp_params", nullptr);
  return frontEnd;
}

int32 computeCepstra(fe_t* frontEnd, std::span<const int16_t> samples, Cepstra& cepstra) {
  // A fresh stream forgets the noise level learnt from earlier utterances.
  fe_start_stream(frontEnd);
  size_t left = samples.size();
  int32 frames = 0;
  if (fe_process_frames(frontEnd, nullptr, &left, nullptr, &frames, nullptr) < 0) return -1;
  const auto width = static_cast<size_t>(fe_get_output_size(frontEnd));
  const auto rows = static_cast<size_t>(frames) + 1;  // and the last partial frame
  cepstra.values.assign(rows * width, 0);
  cepstra.rows.resize(rows);
  for (size_t row = 0; row < rows; ++row) {
    cepstra.rows[row] = cepstra.values.data() + row * width;
  }
  const int16* next = samples.data();
  left = samples.size();
  if (fe_start_utt(frontEnd) < 0 ||
      fe_process_frames(frontEnd, &next, &left, cepstra.rows.data(), &frames, nullptr) < 0) {
    return -1;
  }
  int32 last = 0;
  if (fe_end_utt(frontEnd, cepstra.rows[static_cast<size_t>(frames)], &last) < 0) {
    return -1;
  }
  return frames + last;
}

}  // namespace ondevice::platform
