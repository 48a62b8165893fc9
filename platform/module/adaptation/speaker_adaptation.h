#pragma once
// Speaker adaptation of a whole recording: after its first decoding, whether a second one pays
// (secondPassPays) and the transform of the model's means that the second one decodes with
// (estimateMeanTransform), learnt from the first decoding's own words.
//
//   if (secondPassPays(firstPass, gate.heardNoise())) {
//     if (auto transform = estimateMeanTransform(files, warp, utterances, firstPass)) { ... }
//   }

#include <cstdint>
#include <optional>
#include <span>

#include "platform/contract/model_parts.h"
#include "platform/module/decoding/decoder_pool.h"
#include "platform/module/decoding/mean_transform.h"
#include "platform/module/format/utterance.h"

namespace ondevice::platform {

// How poorly a first decoding must fit for a second to pay: its best paths' acoustic score per
// 10 ms frame (over words, fillers and silences; the recogniser's log units) below this.
// Measured per recording on bench/accuracy's sets (each clip alone and all joined): clean
// speech, codecs and quiet recordings mostly -29,000 to -36,000; telephone band, slowed
// speech, reverberation and noise -36,000 to -65,000. Chosen on its default conditions (the
// most words gained with no row worse by more than one word), checked on the extra ones.
inline constexpr int64_t kPoorFitScorePerFrame = -36'000;

// Whether the first decoding fits the audio so poorly that a second, adapted one is worth its
// cost: below kPoorFitScorePerFrame, and only where the noise gate heard no steady noise
// (`noisy`). In noise the first decoding's words are too often wrong to learn from: a transform
// learnt from them gained a few words on white noise but lost up to 8 of 71 on pink, brown and
// babble noise.
bool secondPassPays(std::span<const RecognisedUtterance> firstPass, bool noisy);

// The transform learnt from `firstPass` (the decodings of `utterances`, which it names by
// sequence) read with `warp`; none when there is too little to learn it from or the model is
// not one it can be learnt for. Throws PlatformError only when the audio cannot be read again.
std::optional<MeanTransform> estimateMeanTransform(const ModelFiles& model, FrequencyWarp warp,
                                                   std::span<const Utterance> utterances,
                                                   std::span<const RecognisedUtterance> firstPass);

}  // namespace ondevice::platform
