#pragma once
// The feature vectors a decoder of a model scores, computed apart from any decoder: the
// cepstra of its front end with the warp given, then the model's feature type (cepstra, deltas
// and double deltas for the en-us model) with the cepstral mean of the utterance removed, as a
// decoder does for a whole utterance. Speaker adaptation aligns these to the recognised words.
//
//   FeatureExtractor extractor(model, FrequencyWarp::raised);   // throws PlatformError
//   std::vector<float> features = extractor.features(samples);  // frames x width(), by row
//
// Used by one thread at a time.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/contract/model_parts.h"
#include "platform/module/decoding/utterance_decoder.h"

namespace ondevice::platform {

class FeatureExtractor {
 public:
  FeatureExtractor(const ModelFiles& model, FrequencyWarp warp);
  ~FeatureExtractor();
  FeatureExtractor(const FeatureExtractor&) = delete;
  FeatureExtractor& operator=(const FeatureExtractor&) = delete;

  int width() const;
  // The features of `samples` as one utterance; throws PlatformError when the front end fails.
  std::vector<float> features(std::span<const int16_t> samples);

 private:
  struct Handles;
  std::unique_ptr<Handles> handles_;
};

}  // namespace ondevice::platform
