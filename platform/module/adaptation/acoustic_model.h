#pragma once
// The parts of a PocketSphinx acoustic model that speaker adaptation reads: the Gaussians of
// each phone's codebook (means and variances per feature stream), the senones that make up each
// phone in its context (the triphone tree of the model definition), and every senone's mixture
// weights.
// Read from the model's own files (means, variances, mdef, sendump), so that the statistics are
// gathered on exactly the Gaussians the decoder scores with.
//
//   AcousticModel model = AcousticModel::load("/usr/share/pocketsphinx/model/en-us/en-us");
//   int phone = model.phoneId("AH");                  // -1 when the model lacks it
//   auto states = model.senones(phone, left, right, AcousticModel::Position::wordEnd);
//   const Gaussian& g = model.gaussian(phone, stream, density);
//   double w = model.logWeight(states[0], stream, density);
//
// Only phonetically tied models (one codebook per context-independent phone, mixture weights
// dumped as a "sendump") are read; load() throws PlatformError for any other or for a file that
// is not what it claims to be.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ondevice::platform {

class AcousticModel {
 public:
  static constexpr int kStatesPerPhone = 3;

  struct Gaussian {
    std::vector<double> mean;
    std::vector<double> inverseVariance;  // 1 / variance, floored as the decoder floors it
    double logNormaliser = 0;             // -1/2 log((2 pi)^n |variance|)
  };

  // Where a phone lies in its word, numbered as the model definition numbers them.
  enum class Position { wordInternal = 0, wordBegin = 1, wordEnd = 2, singlePhoneWord = 3 };

  static AcousticModel load(const std::string& directory);

  // The context-independent phones: their ids, how many there are, silence.
  int phoneId(std::string_view name) const;
  int phones() const { return static_cast<int>(phoneNames_.size()); }
  int silence() const { return silence_; }
  // The senones of `phone`'s states between `left` and `right` (context-independent phones) at
  // `position`: the triphone's, else the same triphone's at another position, else the phone's
  // own. Fillers in the context are read as silence.
  std::array<int, kStatesPerPhone> senones(int phone, int left, int right, Position position) const;
  int streams() const { return static_cast<int>(streamWidths_.size()); }
  int streamWidth(int stream) const { return streamWidths_[static_cast<size_t>(stream)]; }
  int densities() const { return densities_; }
  const Gaussian& gaussian(int phone, int stream, int density) const {
    return gaussians_[(static_cast<size_t>(phone) * streamWidths_.size() +
                       static_cast<size_t>(stream)) *
                          static_cast<size_t>(densities_) +
                      static_cast<size_t>(density)];
  }
  // The log of the weight of `density` in `senone`'s mixture, in `stream`.
  double logWeight(int senone, int stream, int density) const {
    return -kWeightLogUnit *
           weights_[(static_cast<size_t>(stream) * static_cast<size_t>(densities_) +
                     static_cast<size_t>(density)) *
                        static_cast<size_t>(senoneCount_) +
                    static_cast<size_t>(senone)];
  }

 private:
  // Mixture weights are dumped as negative logarithms in the base 1.0001^(2^10): an 8-bit
  // quantisation of the decoder's log base.
  static constexpr double kWeightLogUnit = 1024 * 9.99950003e-5;  // 1024 ln(1.0001)

  struct TreeNode {
    int16_t context;
    int16_t children;  // none: a leaf, whose value is a phone
    int32_t value;     // the first child's index, or the phone
  };
  int phoneIn(Position position, int phone, int left, int right) const;

  std::vector<std::string> phoneNames_;  // sorted, as the model lists them
  std::vector<bool> fillers_;            // per context-independent phone
  int silence_ = -1;
  std::vector<TreeNode> tree_;             // position, phone, left, right
  std::vector<int32_t> sequenceOfPhone_;   // per phone, triphones too
  std::vector<uint16_t> senoneSequences_;  // kStatesPerPhone per sequence
  std::vector<int> streamWidths_;
  int densities_ = 0;
  int senoneCount_ = 0;
  std::vector<Gaussian> gaussians_;  // phone, stream, density
  std::vector<uint8_t> weights_;     // stream, density, senone
};

}  // namespace ondevice::platform
