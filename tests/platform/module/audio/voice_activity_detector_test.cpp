// Voice activity detection: where utterances start and end: the cuts depend on the samples
// alone, never on how they arrive, and no utterance grows without bound.

#include "platform/module/audio/voice_activity_detector.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace ondevice {
namespace {

using platform::Utterance;
using platform::UtteranceEnd;
using platform::VoiceActivityDetector;
using ::testing::ElementsAreArray;

constexpr int kRate = 16000;

// Sections of "speech" (a warbling tone, in syllables of 0.25 s with 0.05 s gaps) and quiet
// background, in seconds.
std::vector<int16_t> audio(const std::vector<std::pair<double, bool>>& sections) {
  std::mt19937 random(7);
  std::normal_distribution<double> hiss(0.0, 20.0);
  std::vector<int16_t> samples;
  for (const auto& [seconds, speech] : sections) {
    const auto count = static_cast<int64_t>(seconds * kRate);
    for (int64_t i = 0; i < count; ++i) {
      double value = hiss(random);
      const double t = static_cast<double>(samples.size()) / kRate;
      if (speech && std::fmod(t, 0.3) >= 0.05) {
        value += 6000 * std::sin(2 * M_PI * (200 + 80 * std::sin(2 * M_PI * 3 * t)) * t);
      }
      samples.push_back(static_cast<int16_t>(std::lround(value)));
    }
  }
  return samples;
}

struct Cut {
  int64_t start;
  int64_t length;
  UtteranceEnd end;
  friend bool operator==(const Cut&, const Cut&) = default;
};

std::vector<Cut> segment(const std::vector<int16_t>& samples, size_t chunk) {
  VoiceActivityDetector detector;
  std::vector<Cut> cuts;
  const auto sink = [&](Utterance u) {
    // What an utterance holds is exactly the stream's samples at its position.
    EXPECT_TRUE(std::equal(u.samples.begin(), u.samples.end(), samples.begin() + u.startSample));
    cuts.push_back({u.startSample, static_cast<int64_t>(u.samples.size()), u.end});
  };
  for (size_t at = 0; at < samples.size(); at += chunk) {
    const size_t size = std::min(chunk, samples.size() - at);
    detector.push(std::span(samples).subspan(at, size), sink);
  }
  detector.finish(sink);
  return cuts;
}

// 1 s background, 2 s speech, 1 s pause, 1.5 s speech, 0.2 s (a breath), 1 s speech, the end.
std::vector<int16_t> twoUtterances() {
  return audio({{1, false}, {2, true}, {1, false}, {1.5, true}, {0.2, false}, {1, true}});
}

TEST(VoiceActivityDetector, CutsAtPauses) {
  const auto samples = twoUtterances();
  const auto cuts = segment(samples, samples.size());
  ASSERT_EQ(cuts.size(), 2u);
  // Each utterance holds its speech with a little lead-in, the breath does not cut.
  EXPECT_LT(cuts[0].start, 1 * kRate);
  EXPECT_GT(cuts[0].start, static_cast<int64_t>(0.5 * kRate));
  EXPECT_GT(cuts[0].start + cuts[0].length, 3 * kRate);
  EXPECT_LT(cuts[0].start + cuts[0].length, 4 * kRate);
  EXPECT_LT(cuts[1].start, 4 * kRate);
  EXPECT_EQ(cuts[1].start + cuts[1].length, static_cast<int64_t>(samples.size()));
}

class VoiceActivityDetectorChunks : public ::testing::TestWithParam<size_t> {};

TEST_P(VoiceActivityDetectorChunks, CutWhereTheWholeIsCut) {
  const auto samples = twoUtterances();
  EXPECT_EQ(segment(samples, GetParam()), segment(samples, samples.size()));
}

INSTANTIATE_TEST_SUITE_P(, VoiceActivityDetectorChunks, ::testing::Values(1, 159, 160, 1000, 4096),
                         ::testing::PrintToStringParamName());

TEST(VoiceActivityDetector, SpeechWithoutPausesIsCutIntoBoundedPieces) {
  const auto samples = audio({{0.5, false}, {70, true}});
  const auto cuts = segment(samples, 3000);
  ASSERT_GE(cuts.size(), 3u);
  int64_t end = cuts.front().start;
  for (const Cut& cut : cuts) {
    EXPECT_EQ(cut.start, end) << "pieces must follow each other without a gap";
    EXPECT_LE(cut.length, 25 * kRate);
    end = cut.start + cut.length;
  }
  EXPECT_EQ(end, static_cast<int64_t>(samples.size()));
}

struct EndCase {
  std::string name;
  std::vector<std::pair<double, bool>> sections;
  std::vector<UtteranceEnd> ends;
};

class VoiceActivityDetectorEnds : public ::testing::TestWithParam<EndCase> {};

// Why each utterance ended, which tells the text stage whether a sentence may end there.
TEST_P(VoiceActivityDetectorEnds, SaysWhyEachUtteranceEnded) {
  std::vector<UtteranceEnd> ends;
  for (const Cut& cut : segment(audio(GetParam().sections), 1600)) ends.push_back(cut.end);
  EXPECT_THAT(ends, ElementsAreArray(GetParam().ends));
}

INSTANTIATE_TEST_SUITE_P(
    , VoiceActivityDetectorEnds,
    ::testing::Values(
        EndCase{"APauseThenTheEnd",
                {{1, false}, {2, true}, {1, false}, {1.5, true}},
                {UtteranceEnd::pause, UtteranceEnd::endOfStream}},
        // Only silence follows the last utterance: its end is the end of the stream too.
        EndCase{"SilenceAfterTheLastUtterance",
                {{1, false}, {2, true}, {1, false}, {1.5, true}, {3, false}},
                {UtteranceEnd::pause, UtteranceEnd::endOfStream}},
        EndCase{"AShortPauseInALongUtterance",
                {{0.5, false}, {16, true}, {0.2, false}, {2, true}},
                {UtteranceEnd::pauseWhenLong, UtteranceEnd::endOfStream}},
        EndCase{"NoPauseAtAll",
                {{0.5, false}, {60, true}},
                {UtteranceEnd::cut, UtteranceEnd::cut, UtteranceEnd::endOfStream}}),
    [](const auto& info) { return info.param.name; });

TEST(VoiceActivityDetector, BackgroundAloneIsNoUtterance) {
  for (const bool loud : {false, true}) {
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0.0, loud ? 3000.0 : 0.0);
    std::vector<int16_t> samples(10 * kRate);
    for (auto& sample : samples) sample = static_cast<int16_t>(std::lround(noise(random)));
    EXPECT_TRUE(segment(samples, 1600).empty()) << (loud ? "loud steady noise" : "silence");
  }
}

}  // namespace
}  // namespace ondevice
