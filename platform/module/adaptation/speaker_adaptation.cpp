#include "platform/module/adaptation/speaker_adaptation.h"

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "platform/api/platform_error.h"
#include "platform/module/adaptation/acoustic_model.h"
#include "platform/module/adaptation/mllr_estimation.h"
#include "platform/module/decoding/feature_extractor.h"

namespace ondevice::platform {

bool secondPassPays(std::span<const RecognisedUtterance> firstPass, bool noisy) {
  if (noisy) return false;
  int64_t score = 0;
  int64_t frames = 0;
  for (const RecognisedUtterance& utterance : firstPass) {
    score += utterance.acousticScore;
    frames += utterance.pathFrames;
  }
  return frames > 0 && score < kPoorFitScorePerFrame * frames;
}

std::optional<MeanTransform> estimateMeanTransform(const ModelFiles& files, FrequencyWarp warp,
                                                   std::span<const Utterance> utterances,
                                                   std::span<const RecognisedUtterance> firstPass) {
  std::optional<AcousticModel> model;
  try {
    model = AcousticModel::load(files.acousticModel);
  } catch (const PlatformError&) {
    return std::nullopt;  // a model of another kind: decoded as it is
  }
  FeatureExtractor extractor(files, warp);
  int width = 0;
  for (int stream = 0; stream < model->streams(); ++stream) width += model->streamWidth(stream);
  if (extractor.width() != width) return std::nullopt;

  MllrEstimation estimation(*model);
  for (const RecognisedUtterance& recognised : firstPass) {
    if (recognised.sequence < 0 || static_cast<size_t>(recognised.sequence) >= utterances.size()) {
      continue;
    }
    const Utterance& utterance = utterances[static_cast<size_t>(recognised.sequence)];
    const std::vector<float> features = extractor.features(utterance.samples);
    const auto frames = static_cast<int64_t>(features.size() / static_cast<size_t>(width));
    // Each word's phones, as the model numbers them; none for a word the dictionary lacks or
    // spells with phones the model lacks, which is left out.
    std::vector<std::vector<int>> spelled;
    for (const auto& word : recognised.alignment) {
      std::vector<int> phones;
      std::istringstream spelling(word.phones);
      for (std::string phone; spelling >> phone;) phones.push_back(model->phoneId(phone));
      if (std::find(phones.begin(), phones.end(), -1) != phones.end()) phones.clear();
      spelled.push_back(std::move(phones));
    }
    const auto& words = recognised.alignment;
    for (size_t i = 0; i < words.size(); ++i) {
      if (spelled[i].empty()) continue;
      // The phones of the words on either side where they touch this one; else silence.
      const bool afterWord =
          i > 0 && !spelled[i - 1].empty() && words[i - 1].lastFrame + 1 == words[i].firstFrame;
      const bool beforeWord = i + 1 < words.size() && !spelled[i + 1].empty() &&
                              words[i].lastFrame + 1 == words[i + 1].firstFrame;
      estimation.addWord(features, frames, words[i].firstFrame, words[i].lastFrame, spelled[i],
                         afterWord ? spelled[i - 1].back() : model->silence(),
                         beforeWord ? spelled[i + 1].front() : model->silence());
    }
  }
  return estimation.solve();
}

}  // namespace ondevice::platform
