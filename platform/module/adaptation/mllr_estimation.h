#pragma once
// Estimates a global MLLR transform of the means (decoding/mean_transform.h) from a recording's
// first decoding: each recognised word is aligned to its frames state by state (Viterbi, over the
// senones of its pronunciation's triphones), every frame's posterior over its state's
// Gaussians is gathered, and the transform that makes those frames most likely is solved for,
// row by row (Leggetter and Woodland's closed form for diagonal covariances).
//
//   MllrEstimation estimation(model);
//   estimation.addWord(features, frames, 12, 40, phones, left, right);   // frames 12 to 40
//   std::optional<MeanTransform> transform = estimation.solve();
//
// Words whose frames cannot hold their states are left out; solve() gives none while too few
// frames were gathered for a transform worth applying, or when the statistics do not determine
// one.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/module/adaptation/acoustic_model.h"
#include "platform/module/decoding/mean_transform.h"

namespace ondevice::platform {

class MllrEstimation {
 public:
  // Fewer aligned frames than this (one second of words) give no transform.
  static constexpr int64_t kMinimumFrames = 100;

  explicit MllrEstimation(const AcousticModel& model);

  // Features of one utterance: `frames` rows of the model's streams side by side (39 values for
  // the en-us model). Adds the word spoken over frames [first, last] with these phones (model
  // phone ids), after the phone `left` and before `right` (silence where no word is
  // adjacent); false when it was left out.
  bool addWord(std::span<const float> features, int64_t frames, int64_t first, int64_t last,
               std::span<const int> phones, int left, int right);

  int64_t alignedFrames() const { return alignedFrames_; }
  std::optional<MeanTransform> solve() const;

 private:
  const AcousticModel& model_;
  int featureWidth_ = 0;
  int64_t alignedFrames_ = 0;
  // Per phone, stream and density: the occupation, and the occupation-weighted sum of the
  // frames (the stream's width values).
  std::vector<double> occupation_;
  std::vector<double> weightedSums_;
  std::vector<size_t> sumOffsets_;  // where each (phone, stream, density) starts in weightedSums_
};

}  // namespace ondevice::platform
