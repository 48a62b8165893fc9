#include "platform/module/audio/noise_gate.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "platform/module/audio/frame_level.h"

namespace ondevice::platform {
namespace {

constexpr size_t kFrame = kRecognitionFrameSamples;
constexpr size_t kBlock = NoiseGate::kBlockSamples;
static_assert(kBlock % kFrame == 0, "blocks are whole frames");
// Fewer frames than this (a second) say too little about the recording: left untouched.
constexpr size_t kFewestFramesToJudge = 100;
constexpr size_t kFadeSamples = kFrame;

double quantile(std::vector<double>& values, double share) {
  const auto at = std::min(values.size() - 1, static_cast<size_t>(share * values.size()));
  std::nth_element(values.begin(), values.begin() + static_cast<ptrdiff_t>(at), values.end());
  return values[at];
}

}  // namespace

void NoiseGate::push(std::span<const int16_t> samples, std::vector<int16_t>& out) {
  while (!samples.empty()) {
    const auto take = static_cast<ptrdiff_t>(std::min(samples.size(), kFrame - partial_.size()));
    raw_.insert(raw_.end(), samples.begin(), samples.begin() + take);
    partial_.insert(partial_.end(), samples.begin(), samples.begin() + take);
    samples = samples.subspan(static_cast<size_t>(take));
    if (partial_.size() == kFrame) {
      levels_.push_back(frameLevelDb(partial_));
      suppress(partial_);
      partial_.clear();
    }
    if (raw_.size() >= kBlock && suppressed_.size() >= kBlock) emit(kBlock, out);
  }
}

void NoiseGate::finish(std::vector<int16_t>& out) {
  if (!partial_.empty()) {
    levels_.push_back(frameLevelDb(partial_));
    partial_.resize(kFrame, 0);
    suppress(partial_);
    partial_.clear();
  }
  // Silence pushes the suppressor's last samples out.
  const std::vector<int16_t> silence(kFrame, 0);
  while (suppressed_.size() < raw_.size()) suppress(silence);
  while (!raw_.empty()) emit(std::min(kBlock, raw_.size()), out);
}

// Appends the suppressed samples of a whole frame, once the suppressor's delay is past.
void NoiseGate::suppress(std::span<const int16_t> frame) {
  std::array<int16_t, kFrame> buffer;
  std::copy(frame.begin(), frame.end(), buffer.begin());
  suppressor_.process(buffer);
  const auto skip = std::min(delayLeft_, kFrame);
  delayLeft_ -= skip;
  suppressed_.insert(suppressed_.end(), buffer.begin() + static_cast<ptrdiff_t>(skip),
                     buffer.end());
}

bool NoiseGate::noisy(std::span<const double> levels) const {
  if (levels.size() < kFewestFramesToJudge) return false;
  std::vector<double> sorted(levels.begin(), levels.end());
  return quantile(sorted, 0.95) - quantile(sorted, 0.05) < kNoisySpreadDb;
}

void NoiseGate::emit(size_t count, std::vector<int16_t>& out) {
  const size_t frames = (count + kFrame - 1) / kFrame;
  const bool isNoisy = noisy(std::span(levels_).first(previousBlockFrames_ + frames));
  const std::vector<int16_t>& chosen = isNoisy ? suppressed_ : raw_;
  const size_t start = out.size();
  out.insert(out.end(), chosen.begin(), chosen.begin() + static_cast<ptrdiff_t>(count));
  if (!first_ && isNoisy != previousNoisy_) {
    const std::vector<int16_t>& before = previousNoisy_ ? suppressed_ : raw_;
    const size_t fade = std::min(kFadeSamples, count);
    for (size_t i = 0; i < fade; ++i) {
      const double weight = (static_cast<double>(i) + 0.5) / static_cast<double>(fade);
      out[start + i] =
          static_cast<int16_t>(std::lround((1.0 - weight) * before[i] + weight * chosen[i]));
    }
  }
  first_ = false;
  previousNoisy_ = isNoisy;
  heardNoise_ = heardNoise_ || isNoisy;
  raw_.erase(raw_.begin(), raw_.begin() + static_cast<ptrdiff_t>(count));
  suppressed_.erase(suppressed_.begin(), suppressed_.begin() + static_cast<ptrdiff_t>(count));
  levels_.erase(levels_.begin(), levels_.begin() + static_cast<ptrdiff_t>(previousBlockFrames_));
  previousBlockFrames_ = std::min(frames, levels_.size());
}

}  // namespace ondevice::platform
