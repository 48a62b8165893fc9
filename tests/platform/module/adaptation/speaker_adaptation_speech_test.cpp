// Speaker adaptation on the system's en-us model and real speech: the model's Gaussians and
// mixture weights are read as the decoder reads them, a damaged file is refused with its name,
// and a transform is learnt from a first decoding only where there is enough of it to learn
// from; where there is not, the analysis keeps its first decoding.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/api/platform_error.h"
#include "platform/module/adaptation/acoustic_model.h"
#include "platform/module/adaptation/speaker_adaptation.h"
#include "platform/module/decoding/pocketsphinx_decoder.h"
#include "tests/support/files.h"
#include "tests/support/speech_test_support.h"

namespace ondevice {
namespace {

namespace fs = std::filesystem;
using namespace platform;
using ::testing::AllOf;
using ::testing::Ge;
using ::testing::HasSubstr;
using ::testing::Le;
using testing::ScratchDirectory;
using ::testing::ThrowsMessage;

ModelFiles systemModel() {
  const std::string dir = testing::speech::kModel;
  return ModelFiles{dir + "/en-us", dir + "/en-us.lm.bin", dir + "/cmudict-en-us.dict"};
}

std::vector<int16_t> samplesOf(const std::string& path, const fs::path& scratch) {
  const fs::path raw = scratch / (fs::path(path).stem().string() + ".raw");
  testing::speech::sox(
      {path, "-t", "raw", "-r", "16000", "-e", "signed", "-b", "16", raw.string()});
  const std::string bytes = testing::readText(raw);
  std::vector<int16_t> samples(bytes.size() / sizeof(int16_t));
  std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(int16_t));
  return samples;
}

TEST(AcousticModel, ReadsEachPhoneInContextAndEverySenonesWeights) {
  const AcousticModel model = AcousticModel::load(systemModel().acousticModel);
  ASSERT_EQ(model.phones(), 42);
  EXPECT_GE(model.phoneId("AA"), 0);
  EXPECT_GE(model.phoneId("SIL"), 0);
  EXPECT_EQ(model.phoneId("XX"), -1);
  ASSERT_EQ(model.streams(), 3);
  // Every phone in and out of context: a triphone's states are its own senones (another than
  // the phone's alone), and every senone's weights are read whole: stored as 8-bit logarithms,
  // floored, they sum to near one, never far.
  const int ah = model.phoneId("AH");
  const int t = model.phoneId("T");
  const auto alone = model.senones(ah, -1, -1, AcousticModel::Position::wordInternal);
  const auto triphone = model.senones(ah, t, t, AcousticModel::Position::wordInternal);
  EXPECT_NE(alone, triphone);
  EXPECT_EQ(
      model.senones(ah, model.silence(), model.silence(), AcousticModel::Position::wordInternal),
      model.senones(ah, model.phoneId("+NSN+"), model.phoneId("+SPN+"),
                    AcousticModel::Position::wordInternal));
  for (int phone = 0; phone < model.phones(); ++phone) {
    for (const auto senones : {model.senones(phone, -1, -1, AcousticModel::Position::wordBegin),
                               model.senones(phone, t, ah, AcousticModel::Position::wordEnd)}) {
      for (const int senone : senones) {
        for (int stream = 0; stream < model.streams(); ++stream) {
          double sum = 0;
          for (int density = 0; density < model.densities(); ++density) {
            sum += std::exp(model.logWeight(senone, stream, density));
          }
          EXPECT_THAT(sum, AllOf(Ge(0.9), Le(1.1))) << phone << " " << senone << " " << stream;
        }
      }
    }
  }
}

struct Damage {
  const char* name;
  const char* file;
  std::function<void(const fs::path&)> apply;
  const char* message;
};

void truncateTo(const fs::path& file, uintmax_t size) { fs::resize_file(file, size); }

const Damage kDamages[] = {
    {"MeansCutShort", "means", [](const fs::path& f) { truncateTo(f, 4000); },
     "means ends too early"},
    {"VariancesCutShort", "variances", [](const fs::path& f) { truncateTo(f, 4000); },
     "variances ends too early"},
    {"MdefNotBinary", "mdef", [](const fs::path& f) { testing::writeText(f, "0.3\n42 n_base\n"); },
     "mdef is not a binary model definition"},
    {"SendumpCutShort", "sendump", [](const fs::path& f) { truncateTo(f, 100000); },
     "sendump ends too early"},
    {"MeansWithoutHeader", "means", [](const fs::path& f) { testing::writeText(f, "garbage"); },
     "means has no header"},
};

class DamagedModel : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedModel, IsRefusedNamingTheFile) {
  ScratchDirectory scratch;
  const fs::path copy = scratch.path() / "en-us";
  fs::copy(systemModel().acousticModel, copy);
  GetParam().apply(copy / GetParam().file);
  EXPECT_THAT([&] { AcousticModel::load(copy.string()); },
              ThrowsMessage<PlatformError>(HasSubstr(GetParam().message)));
}

INSTANTIATE_TEST_SUITE_P(, DamagedModel, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.name); });

// A LibriVox recording decoded once, as the analysis hands its first decoding over.
struct FirstDecoding {
  std::vector<Utterance> utterances;
  std::vector<RecognisedUtterance> recognised;
};

FirstDecoding decodeOnce(const std::vector<int16_t>& samples) {
  FirstDecoding first;
  first.utterances.push_back(Utterance{0, samples, UtteranceEnd::endOfStream});
  PocketSphinxDecoder decoder(systemModel());
  if (auto recognised = recognisedUtterance(first.utterances[0],
                                            decoder.decode(samples, FrequencyWarp::none), 0)) {
    first.recognised.push_back(std::move(*recognised));
  }
  return first;
}

TEST(SpeakerAdaptation, LearnsATransformNearIdentityFromCleanSpeech) {
  ScratchDirectory scratch;
  const FirstDecoding first =
      decodeOnce(samplesOf(testing::speech::librivoxClips()[0].path, scratch.path()));
  ASSERT_EQ(first.recognised.size(), 1u);
  const auto transform =
      estimateMeanTransform(systemModel(), FrequencyWarp::none, first.utterances, first.recognised);
  ASSERT_TRUE(transform.has_value());
  ASSERT_EQ(transform->streams.size(), 3u);
  for (const auto& stream : transform->streams) {
    for (int i = 0; i < stream.width; ++i) {
      EXPECT_THAT(stream.matrix[static_cast<size_t>(i * stream.width + i)],
                  AllOf(Ge(0.5), Le(1.5)));
    }
  }
}

// What leaves nothing to learn from: the analysis then keeps its first decoding.
struct Unlearnable {
  const char* name;
  std::function<void(FirstDecoding&)> spoil;
};

const Unlearnable kUnlearnable[] = {
    {"NoWordsRecognised", [](FirstDecoding& f) { f.recognised.clear(); }},
    {"WordsTheDictionaryLacks",
     [](FirstDecoding& f) {
       for (auto& word : f.recognised[0].alignment) word.phones.clear();
     }},
    {"PhonesTheModelLacks",
     [](FirstDecoding& f) {
       for (auto& word : f.recognised[0].alignment) word.phones = "XX YY";
     }},
    {"TooFewFrames",
     [](FirstDecoding& f) {
       auto& words = f.recognised[0].alignment;
       words.resize(1);
       words[0].lastFrame = std::min(words[0].lastFrame, words[0].firstFrame + 40);
     }},
    {"WordsBeyondTheAudio",
     [](FirstDecoding& f) {
       for (auto& word : f.recognised[0].alignment) {
         word.firstFrame += 100000;
         word.lastFrame += 100000;
       }
     }},
    {"AnUtteranceNotHeld", [](FirstDecoding& f) { f.recognised[0].sequence = 7; }},
};

class NothingToLearn : public ::testing::TestWithParam<Unlearnable> {};

TEST_P(NothingToLearn, GivesNoTransform) {
  ScratchDirectory scratch;
  FirstDecoding first =
      decodeOnce(samplesOf(testing::speech::librivoxClips()[0].path, scratch.path()));
  ASSERT_EQ(first.recognised.size(), 1u);
  GetParam().spoil(first);
  EXPECT_FALSE(
      estimateMeanTransform(systemModel(), FrequencyWarp::none, first.utterances, first.recognised)
          .has_value());
}

INSTANTIATE_TEST_SUITE_P(, NothingToLearn, ::testing::ValuesIn(kUnlearnable),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ondevice
