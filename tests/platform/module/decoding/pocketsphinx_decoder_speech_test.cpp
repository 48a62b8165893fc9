// Real speech through single decoders: an utterance decodes the same whatever the decoder
// decoded before, which is what lets any number of threads share the work.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/module/decoding/pocketsphinx_decoder.h"
#include "tests/support/files.h"
#include "tests/support/speech_test_support.h"

namespace ondevice {
namespace {

namespace fs = std::filesystem;
using namespace platform;
using testing::ScratchDirectory;
using testing::speech::Clip;

ModelFiles systemModel() {
  const std::string dir = testing::speech::kModel;
  return ModelFiles{dir + "/en-us", dir + "/en-us.lm.bin", dir + "/cmudict-en-us.dict"};
}

// The 16 kHz samples of a clip, through sox.
std::vector<int16_t> samplesOf(const Clip& clip, const fs::path& scratch) {
  const fs::path raw = scratch / (fs::path(clip.path).stem().string() + ".raw");
  testing::speech::sox({clip.path, "-t", "raw", "-e", "signed", "-b", "16", raw.string()});
  const std::string bytes = testing::readText(raw);
  std::vector<int16_t> samples(bytes.size() / sizeof(int16_t));
  std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(int16_t));
  return samples;
}

void expectSame(const RecognisedSpeech& speech, const RecognisedSpeech& expected) {
  EXPECT_EQ(speech.text, expected.text);
  EXPECT_EQ(speech.score, expected.score);
  EXPECT_EQ(speech.firstSample, expected.firstSample);
  EXPECT_EQ(speech.endSample, expected.endSample);
}

// The first of these recordings is one whose words a fresh decoder once read differently. Both
// readings: a decoder made later in the process once read "raised" as it is.
class DecodingOrder : public ::testing::TestWithParam<FrequencyWarp> {};

TEST_P(DecodingOrder, AnUtteranceDecodesTheSameWhateverTheDecoderDecodedBefore) {
  ScratchDirectory scratch;
  const auto clips = testing::speech::librivoxClips();
  const auto first = samplesOf(clips[0], scratch.path());
  const auto other = samplesOf(clips[1], scratch.path());

  PocketSphinxDecoder fresh(systemModel());
  const RecognisedSpeech expected = fresh.decode(first, GetParam());
  EXPECT_THAT(expected.text, ::testing::HasSubstr("dashwood"));
  PocketSphinxDecoder used(systemModel());
  used.decode(other, FrequencyWarp::none);
  used.decode(other, FrequencyWarp::raised);
  expectSame(used.decode(first, GetParam()), expected);
  expectSame(fresh.decode(first, GetParam()), expected);
  PocketSphinxDecoder third(systemModel());
  expectSame(third.decode(first, GetParam()), expected);
}

INSTANTIATE_TEST_SUITE_P(Readings, DecodingOrder,
                         ::testing::Values(FrequencyWarp::none, FrequencyWarp::raised),
                         [](const auto& info) {
                           return info.param == FrequencyWarp::none ? "AsItIs" : "Raised";
                         });

TEST(FrequencyWarpSpeech, EveryDecoderReadsTheRaisedSpectrumOtherwise) {
  ScratchDirectory scratch;
  const auto samples = samplesOf(testing::speech::librivoxClips()[0], scratch.path());
  PocketSphinxDecoder first(systemModel());
  PocketSphinxDecoder second(systemModel());
  EXPECT_NE(second.decode(samples, FrequencyWarp::raised).score,
            second.decode(samples, FrequencyWarp::none).score);
}

// A transform of the means changes how the decoder scores, and clearing it gives back the
// decoder's first readings exactly: what a warm decoder must be after a second decoding.
TEST(AdaptedDecoder, ScoresOtherwiseAndOnceClearedDecodesAsBefore) {
  ScratchDirectory scratch;
  const auto samples = samplesOf(testing::speech::librivoxClips()[0], scratch.path());
  MeanTransform shifted = MeanTransform::identity({13, 13, 13});
  shifted.streams[0].bias[1] = 0.5;
  PocketSphinxDecoder decoder(systemModel());
  const RecognisedSpeech before = decoder.decode(samples, FrequencyWarp::none);
  decoder.adapt(&shifted);
  EXPECT_NE(decoder.decode(samples, FrequencyWarp::none).score, before.score);
  decoder.adapt(nullptr);
  expectSame(decoder.decode(samples, FrequencyWarp::none), before);
}

}  // namespace
}  // namespace ondevice
