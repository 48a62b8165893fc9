// The gate in front of voice activity detection: clean recordings pass untouched, noisy stretches come out
// suppressed in place (no sample lost, added or moved), and the output does not depend on how
// the samples arrive.

#include "platform/module/audio/noise_gate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace ondevice {
namespace {

using platform::NoiseGate;

constexpr int kRate = 16000;

struct Section {
  double seconds;
  bool speech;
  double hiss;  // standard deviation of the background, in steps
};

// "Speech" is a warbling tone in syllables of 0.25 s with 0.05 s gaps, over a background hiss.
std::vector<int16_t> recording(const std::vector<Section>& sections) {
  std::mt19937 random(11);
  std::normal_distribution<double> unit(0.0, 1.0);
  std::vector<int16_t> samples;
  for (const Section& section : sections) {
    const auto count = static_cast<int64_t>(section.seconds * kRate);
    for (int64_t i = 0; i < count; ++i) {
      double value = section.hiss * unit(random);
      const double t = static_cast<double>(samples.size()) / kRate;
      if (section.speech && std::fmod(t, 0.3) >= 0.05) {
        value += 6000 * std::sin(2 * M_PI * (200 + 80 * std::sin(2 * M_PI * 3 * t)) * t);
      }
      samples.push_back(static_cast<int16_t>(std::lround(std::clamp(value, -32768.0, 32767.0))));
    }
  }
  return samples;
}

std::vector<int16_t> gated(const std::vector<int16_t>& samples, size_t chunk) {
  NoiseGate gate;
  std::vector<int16_t> out;
  for (size_t at = 0; at < samples.size(); at += chunk) {
    gate.push(std::span(samples).subspan(at, std::min(chunk, samples.size() - at)), out);
  }
  gate.finish(out);
  return out;
}

double rms(const std::vector<int16_t>& samples, double from, double to) {
  double sum = 0;
  const auto first = static_cast<size_t>(from * kRate);
  const auto last = static_cast<size_t>(to * kRate);
  for (size_t i = first; i < last; ++i) sum += static_cast<double>(samples[i]) * samples[i];
  return std::sqrt(sum / static_cast<double>(last - first));
}

// The shift of `out` against `in` (in samples, within +-300) at which the two agree best.
int bestLag(const std::vector<int16_t>& in, const std::vector<int16_t>& out, double from,
            double to) {
  int best = 0;
  double bestScore = -1e300;
  for (int lag = -300; lag <= 300; ++lag) {
    double score = 0;
    for (auto i = static_cast<size_t>(from * kRate); i < static_cast<size_t>(to * kRate); ++i) {
      score += static_cast<double>(in[i]) * out[static_cast<size_t>(static_cast<int64_t>(i) + lag)];
    }
    if (score > bestScore) {
      bestScore = score;
      best = lag;
    }
  }
  return best;
}

TEST(NoiseGate, CleanPassesUntouchedAndNoiseIsSuppressedInPlace) {
  constexpr double kQuiet = 20;    // a quiet room: the pauses lie 50 dB under the speech
  constexpr double kNoisy = 2000;  // speech 6 dB over the noise
  // 9.5 s clean, then 10.8 s noisy, over four 5 s blocks and a partial one.
  const auto samples = recording({{1, false, kQuiet},
                                  {3, true, kQuiet},
                                  {1, false, kQuiet},
                                  {3, true, kQuiet},
                                  {1.5, false, kQuiet},
                                  {3, true, kNoisy},
                                  {1.4, false, kNoisy},
                                  {3, true, kNoisy},
                                  {1.4, false, kNoisy},
                                  {2, true, kNoisy}});
  const auto out = gated(samples, 4096);
  ASSERT_EQ(out.size(), samples.size());

  // Blocks judged with any clean audio in view stay as they were, to the sample: up to 15 s.
  EXPECT_TRUE(std::equal(samples.begin(), samples.begin() + 15 * kRate, out.begin()));
  // The last block is all noise: its pause comes out well under the noise that went in, and
  // its speech where it was.
  EXPECT_LT(rms(out, 17.0, 18.2), 0.5 * rms(samples, 17.0, 18.2));
  EXPECT_EQ(bestLag(samples, out, 18.4, 20.0), 0);
}

std::vector<int16_t> noisyRecording() {
  return recording({{0.7, false, 1500},
                    {4, true, 1500},
                    {0.5, false, 1500},
                    {3.3, true, 1500},
                    {0.123, false, 1500}});
}

TEST(NoiseGate, SuppressesANoisyRecordingAndPassesNothingOn) {
  const auto samples = noisyRecording();
  const auto whole = gated(samples, samples.size());
  ASSERT_EQ(whole.size(), samples.size());
  EXPECT_NE(whole, samples) << "a noisy recording should be suppressed";
  EXPECT_TRUE(gated({}, 160).empty());
}

class NoiseGateChunks : public ::testing::TestWithParam<size_t> {};

TEST_P(NoiseGateChunks, GiveWhatTheWholeGives) {
  const auto samples = noisyRecording();
  EXPECT_EQ(gated(samples, GetParam()), gated(samples, samples.size()));
}

INSTANTIATE_TEST_SUITE_P(, NoiseGateChunks, ::testing::Values(1, 159, 160, 1000, 80001),
                         ::testing::PrintToStringParamName());

}  // namespace
}  // namespace ondevice
