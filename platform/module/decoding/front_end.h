#pragma once
// The recogniser's settings for a model and the front ends made from them: what a decoder and
// the feature extractor of speaker adaptation (feature_extractor.h) share, so that both read the
// same cepstra from the same samples.
//
// PocketSphinx keeps a warp's parameters in process-wide variables, read when a front end lays
// out its filters: every front end made without a warp (each decoder's own) marks them neutral,
// and a parameter string equal to the last one it parsed is not parsed again, so they stay
// neutral. Front ends, and decoders with theirs, are therefore made one at a time (under
// frontEndsAreMadeOneAtATime()), and each raised one is given a string that differs from the one
// before (the same number, with or without a trailing blank).

#include <pocketsphinx.h>
#include <sphinxbase/fe.h>

#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "platform/contract/model_parts.h"
#include "platform/module/decoding/utterance_decoder.h"

namespace ondevice::platform {

struct ConfigFree {
  void operator()(cmd_ln_t* config) const noexcept { cmd_ln_free_r(config); }
};
struct FrontEndFree {
  void operator()(fe_t* frontEnd) const noexcept { fe_free(frontEnd); }
};
using RecogniserSettings = std::unique_ptr<cmd_ln_t, ConfigFree>;
using FrontEnd = std::unique_ptr<fe_t, FrontEndFree>;

// The recogniser's settings for `model`; null when it rejects them. With `withModelFeatures`,
// the acoustic model's own front-end settings (its feat.params) are read in too, as the decoder
// reads them when it loads.
RecogniserSettings settingsFor(const ModelFiles& model, bool withModelFeatures = false);

// Held while a front end, or a decoder with its front end, is made.
std::unique_lock<std::mutex> frontEndsAreMadeOneAtATime();

// A front end from `settings` (the model's front-end settings among them) reading the spectrum
// as `warp` says; null when the recogniser rejects the settings. Only under
// frontEndsAreMadeOneAtATime().
FrontEnd makeFrontEnd(cmd_ln_t* settings, FrequencyWarp warp);

// The cepstra of one utterance, held for the decoder to read.
struct Cepstra {
  std::vector<mfcc_t> values;
  std::vector<mfcc_t*> rows;  // one per 10 ms frame, into values
};

// The cepstra of `samples` through `frontEnd`, as the decoder computes them for a whole
// utterance; their number of frames, or -1 on failure.
int32 computeCepstra(fe_t* frontEnd, std::span<const int16_t> samples, Cepstra& cepstra);

}  // namespace ondevice::platform
