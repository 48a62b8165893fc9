// The VTLN probe without a recogniser: which utterances join the probe, and the
// choice made from the scores of their two readings.

#include "platform/module/decoding/vtln_probe.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ondevice::platform {
namespace {

using ::testing::ElementsAreArray;

constexpr int64_t kSecond = kRecognitionSampleRate;

struct AdmissionCase {
  std::string name;
  std::vector<int64_t> utterances;  // lengths in samples, in stream order
  std::vector<bool> joined;
};

class VoiceProbeAdmission : public ::testing::TestWithParam<AdmissionCase> {};

TEST_P(VoiceProbeAdmission, TheFirstUtterancesJoinUntilTheProbeIsFull) {
  VtlnProbe probe;
  std::vector<bool> joined;
  for (const int64_t samples : GetParam().utterances) joined.push_back(probe.admit(samples));
  EXPECT_THAT(joined, ElementsAreArray(GetParam().joined));
  EXPECT_FALSE(probe.isOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, VoiceProbeAdmission,
    ::testing::Values(
        AdmissionCase{
            "ThreeShortOnes", {kSecond, kSecond, kSecond, kSecond}, {true, true, true, false}},
        AdmissionCase{"OneLongerThanTheProbe", {25 * kSecond, kSecond}, {true, false}},
        AdmissionCase{
            "TwentySecondsInTwo", {10 * kSecond, 10 * kSecond, kSecond}, {true, true, false}},
        AdmissionCase{"JustShortOfTwentySeconds",
                      {10 * kSecond, 10 * kSecond - 1, kSecond, kSecond},
                      {true, true, true, false}}),
    [](const auto& info) { return info.param.name; });

TEST(VtlnProbe, NothingJoinsOnceTheStreamHasEnded) {
  VtlnProbe probe;
  EXPECT_TRUE(probe.admit(kSecond));
  EXPECT_TRUE(probe.isOpen());
  probe.close();
  EXPECT_FALSE(probe.admit(kSecond));
}

struct ChoiceCase {
  std::string name;
  std::vector<ProbeReadings> readings;
  FrequencyWarp expected;
};

class FrequencyWarpChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(FrequencyWarpChoice, RaisedOnlyWhenItScoresClearlyHigherPerFrame) {
  EXPECT_EQ(chooseFrequencyWarp(GetParam().readings), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Scores, FrequencyWarpChoice,
    ::testing::Values(
        ChoiceCase{"NoUtterances", {}, FrequencyWarp::none},
        ChoiceCase{"ExactlyTheMarginIsNotEnough", {{100, -1000, -900}}, FrequencyWarp::none},
        ChoiceCase{"OneMoreThanTheMargin", {{100, -1000, -899}}, FrequencyWarp::raised},
        ChoiceCase{"LowerWhenRaised", {{100, -900, -1000}}, FrequencyWarp::none},
        // Summed over the utterances: one clear gain does not outweigh a loss on another.
        ChoiceCase{"SummedOverUtterances", {{100, 0, 300}, {100, 0, -150}}, FrequencyWarp::none},
        // An utterance where a reading found no path does not count, in score or in frames.
        ChoiceCase{"OnlyWhereBothFoundAPath",
                   {{100, -1000, std::nullopt}, {100, std::nullopt, -10}, {100, 0, 150}},
                   FrequencyWarp::raised},
        ChoiceCase{"NoPathAnywhere", {{100, std::nullopt, std::nullopt}}, FrequencyWarp::none}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace ondevice::platform
