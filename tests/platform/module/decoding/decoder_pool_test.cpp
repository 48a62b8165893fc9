// The decoder pool with decoders of the test's own, which decode without a recogniser and name
// the utterance and the warp they were given: results come out in submission order whatever
// thread finishes first, submissions wait while too much is in flight, a failing decoding ends
// the run with its error, the VTLN probe completes with one decoder, and only a first decoder
// that cannot be had fails a run.

#include "platform/module/decoding/decoder_pool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/api/platform_error.h"

namespace ondevice::platform {
namespace {

using ::testing::AllOf;
using ::testing::Each;
using ::testing::ElementsAreArray;
using ::testing::EndsWith;
using ::testing::Ge;
using ::testing::HasSubstr;
using ::testing::Le;
using ::testing::ThrowsMessage;

constexpr int64_t kSecond = kRecognitionSampleRate;

// An utterance `seconds` long starting at `start` seconds; its first sample holds its number.
Utterance utterance(int number, int64_t start, int64_t seconds) {
  Utterance u{start * kSecond, std::vector<int16_t>(static_cast<size_t>(seconds * kSecond)),
              UtteranceEnd::pause};
  u.samples[0] = static_cast<int16_t>(number);
  return u;
}

// What the scripted decoders do, shared by all of them.
struct Script {
  std::optional<int> failOnUtterance;     // this utterance's decoding throws
  std::optional<unsigned> refuseAcquire;  // the acquisition with this number (from 0) throws
  bool firstAnsweredLast = false;         // acquisition 0 returns only after that refusal
  bool warm = false;                      // decoders are loaded: several start at once
  std::atomic<bool> refused{false};
  std::chrono::microseconds slowest{0};  // decodings take up to this long, varying
  int64_t raisedGainPerFrame = 0;        // how much better the raised warp scores
  std::atomic<unsigned> acquired{0};
  std::atomic<unsigned> released{0};
  bool refuseTransform = false;         // adapt() with a transform throws
  std::atomic<int> adaptedDecoders{0};  // decoders holding a transform now
  std::atomic<int> decodedAdapted{0};   // decodings made with one
  std::atomic<int> decodings{0};
};

class ScriptedDecoder final : public UtteranceDecoder {
 public:
  explicit ScriptedDecoder(Script& script) : script_(script) {}
  RecognisedSpeech decode(std::span<const int16_t> samples, FrequencyWarp warp) override {
    const int number = samples.empty() ? -1 : samples[0];
    if (script_.failOnUtterance == number)
      throw PlatformError("decoding " + std::to_string(number) + " failed");
    if (script_.slowest.count() > 0) {
      std::this_thread::sleep_for(script_.slowest * ((number * 7) % 5) / 4);
    }
    ++script_.decodings;
    if (adapted_) ++script_.decodedAdapted;
    RecognisedSpeech speech;
    speech.text = "u" + std::to_string(number) + (warp == FrequencyWarp::raised ? " raised" : "");
    speech.words = {SpokenWord{"u" + std::to_string(number), 0, std::nullopt}};
    speech.endSample = static_cast<int64_t>(samples.size());
    const int64_t frames = static_cast<int64_t>(samples.size()) / kRecognitionFrameSamples;
    speech.score = warp == FrequencyWarp::raised ? script_.raisedGainPerFrame * frames : 0;
    return speech;
  }
  void adapt(const MeanTransform* transform) override {
    if (transform != nullptr && script_.refuseTransform) throw PlatformError("no transform");
    if ((transform != nullptr) != adapted_) script_.adaptedDecoders += transform ? 1 : -1;
    adapted_ = transform != nullptr;
  }

 private:
  Script& script_;
  bool adapted_ = false;
};

class ScriptedSource final : public DecoderSource {
 public:
  explicit ScriptedSource(Script& script) : script_(script) {}
  std::unique_ptr<UtteranceDecoder> acquire() override {
    const unsigned number = attempts_++;
    if (script_.refuseAcquire == number) {
      script_.refused = true;
      throw PlatformError("no decoder " + std::to_string(number));
    }
    while (number == 0 && script_.firstAnsweredLast && !script_.refused) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ++script_.acquired;
    return std::make_unique<ScriptedDecoder>(script_);
  }
  void release(std::unique_ptr<UtteranceDecoder> decoder) noexcept override {
    if (decoder) ++script_.released;
  }
  bool keepsDecodersWarm() const override { return script_.warm; }

 private:
  Script& script_;
  std::atomic<unsigned> attempts_{0};
};

// Runs `count` utterances of `seconds` each through a pool of `decoders`; the texts delivered.
struct Delivered {
  std::vector<std::string> texts;
  std::vector<int64_t> inFlightAtSubmit;  // submitted minus delivered, as each submit returned
};
Delivered run(Script& script, unsigned decoders, int count, int64_t seconds,
              DecodingPass pass = {}) {
  Delivered outcome;
  std::mutex delivered;
  DecoderPool pool(
      std::make_shared<ScriptedSource>(script), decoders,
      [&](RecognisedUtterance recognised) {
        const std::lock_guard lock(delivered);
        outcome.texts.push_back(recognised.result.text);
      },
      {}, std::move(pass));
  for (int i = 0; i < count; ++i) {
    pool.submit(utterance(i, i * seconds, seconds));
    const std::lock_guard lock(delivered);
    outcome.inFlightAtSubmit.push_back(i + 1 - static_cast<int64_t>(outcome.texts.size()));
  }
  pool.drain();
  return outcome;
}

std::vector<std::string> inOrder(int count, const std::string& suffix = "") {
  std::vector<std::string> texts;
  for (int i = 0; i < count; ++i) texts.push_back("u" + std::to_string(i) + suffix);
  return texts;
}

class PoolOfDecoders : public ::testing::TestWithParam<unsigned> {};

// 30 utterances of 10 s: enough audio for every decoder to start, though idle workers may take
// the work first when decodings are quick, so never more than asked for.
TEST_P(PoolOfDecoders, HandsResultsOutInSubmissionOrderWithinTheInFlightBound) {
  Script script;
  script.slowest = std::chrono::microseconds(2000);
  const Delivered outcome = run(script, GetParam(), 30, 10);
  EXPECT_THAT(outcome.texts, ElementsAreArray(inOrder(30)));
  EXPECT_THAT(outcome.inFlightAtSubmit, Each(Le(DecoderPool::maxInFlight(GetParam()))));
  EXPECT_THAT(script.acquired.load(), AllOf(Ge(1u), Le(GetParam())));
  EXPECT_EQ(script.released, script.acquired);  // every decoder given back
}

INSTANTIATE_TEST_SUITE_P(, PoolOfDecoders, ::testing::Values(1u, 2u, 4u));

// One decoder takes the probe's utterances twice each, and the choice is made before the
// utterances after them are decoded; a stream shorter than the probe completes it at its end.
TEST(DecoderPool, TheProbeCompletesWithOneDecoderAndItsChoiceHoldsForTheRest) {
  for (const int count : {1, 2, 6}) {
    SCOPED_TRACE(count);
    Script script;
    script.raisedGainPerFrame = kRaisedGainPerFrame + 1;
    EXPECT_THAT(run(script, 1, count, 2).texts, ElementsAreArray(inOrder(count, " raised")));
  }
  Script plain;
  EXPECT_THAT(run(plain, 1, 6, 2).texts, ElementsAreArray(inOrder(6)));
}

// A run given its reading of the spectrum and a transform (a recording's second decoding): no
// probe, so each utterance is decoded once and read as given even where a probe would choose
// otherwise; every decoding is adapted, and every decoder is cleared of the transform before it
// goes back to its source.
TEST(DecoderPool, AGivenPassKeepsItsReadingAndAdaptsEveryDecoderForTheRunOnly) {
  const auto transform = std::make_shared<const MeanTransform>(MeanTransform::identity({13}));
  for (const unsigned decoders : {1u, 3u}) {
    SCOPED_TRACE(decoders);
    Script script;  // the raised reading scores no better: a probe would read them plain
    script.warm = true;
    script.slowest = std::chrono::microseconds(500);
    EXPECT_THAT(run(script, decoders, 8, 2, DecodingPass{FrequencyWarp::raised, transform}).texts,
                ElementsAreArray(inOrder(8, " raised")));
    EXPECT_EQ(script.decodings, 8);
    EXPECT_EQ(script.decodedAdapted, 8);
    EXPECT_EQ(script.adaptedDecoders, 0);
    EXPECT_EQ(script.released, script.acquired);
  }
}

TEST(DecoderPool, ADecoderThatRefusesTheTransformFailsTheRunAndIsNotGivenBack) {
  Script script;
  script.refuseTransform = true;
  const auto transform = std::make_shared<const MeanTransform>(MeanTransform::identity({13}));
  EXPECT_THAT(
      [&] {
        run(script, 1, 3, 2, DecodingPass{FrequencyWarp::none, transform});
      },
      ThrowsMessage<PlatformError>(HasSubstr("no transform")));
  EXPECT_EQ(script.decodings, 0);
  EXPECT_EQ(script.released, 0u);
}

TEST(DecoderPool, AFailedDecodingEndsTheRunWithItsError) {
  Script script;
  script.failOnUtterance = 7;
  EXPECT_THAT([&] { run(script, 2, 30, 10); },
              ThrowsMessage<PlatformError>(EndsWith("decoding 7 failed")));
  EXPECT_EQ(script.released, script.acquired - 1);  // the failed decoder is not given back
}

TEST(DecoderPool, OnlyAFirstDecoderThatCannotBeHadFailsTheRun) {
  Script later;
  later.refuseAcquire = 1;
  const Delivered outcome = run(later, 3, 30, 10);
  EXPECT_THAT(outcome.texts, ElementsAreArray(inOrder(30)));
  EXPECT_THAT(later.acquired.load(), Ge(1u));

  // Two workers start at once and the second is refused while the first still loads: a further
  // decoder was refused, not the first.
  Script overtaken;
  overtaken.refuseAcquire = 1;
  overtaken.firstAnsweredLast = true;
  overtaken.warm = true;
  EXPECT_THAT(run(overtaken, 2, 3, 2).texts, ElementsAreArray(inOrder(3)));
  EXPECT_EQ(overtaken.acquired.load(), 1u);

  Script first;
  first.refuseAcquire = 0;
  EXPECT_THAT([&] { run(first, 1, 3, 10); },
              ThrowsMessage<PlatformError>(EndsWith("no decoder 0")));
}

}  // namespace
}  // namespace ondevice::platform
