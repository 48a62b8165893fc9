// The speech module's analyzer driven directly, as the engine drives it: a consumer thread
// reading the results while the analysis runs, exact times, and every way a session can end.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/api/platform_error.h"
#include "platform/module/analysis/analyzer.h"
#include "platform/module/audio/audio_file.h"
#include "platform/module/decoding/pocketsphinx_decoder.h"
#include "tests/support/case_name.h"
#include "tests/support/files.h"
#include "tests/support/speech_test_support.h"

namespace ondevice {
namespace {

namespace fs = std::filesystem;
using namespace platform;
using testing::ScratchDirectory;
using ::testing::StartsWith;
using ::testing::StrEq;
using ::testing::ThrowsMessage;
using testing::speech::Clip;
using testing::speech::soxSamples;

ModelFiles systemModel() {
  const std::string dir = testing::speech::kModel;
  return ModelFiles{dir + "/en-us", dir + "/en-us.lm.bin", dir + "/cmudict-en-us.dict"};
}

SpeechTranscriberRef makeTranscriber() {
  return std::make_shared<SpeechTranscriber>(Locale("en_US"), TranscriptionOptions{},
                                             ReportingOptions{},
                                             AttributeOptions{AttributeOption::audioTimeRange});
}

// What a consumer read: the results, or the failure that ended the sequence.
struct Consumed {
  std::vector<TranscriptionResult> results;
  std::string failure;
};

std::future<Consumed> consume(const SpeechTranscriberRef& transcriber) {
  return std::async(std::launch::async, [results = transcriber->results()] {
    Consumed consumed;
    try {
      while (auto result = results->next()) consumed.results.push_back(std::move(*result));
    } catch (const PlatformError& error) {
      consumed.failure = error.what();
    }
    return consumed;
  });
}

// 110 MB per decoder, at most a quarter of the memory and 1 GiB in all: 9 decoders at most.
struct Budget {
  std::string name;
  std::optional<unsigned> requested;
  unsigned hardware;
  uint64_t memory;
  unsigned expected;
};

class RecognitionThreads : public ::testing::TestWithParam<Budget> {};

TEST_P(RecognitionThreads, TheMemoryBudgetBoundsRequestsToo) {
  EXPECT_EQ(recognitionThreads(GetParam().requested, GetParam().hardware, GetParam().memory),
            GetParam().expected);
}

constexpr uint64_t GiB = 1ull << 30;
const Budget kBudgets[] = {
    {"the hardware threads", std::nullopt, 2, 24 * GiB, 2},
    {"the 1 GiB cap", std::nullopt, 64, 24 * GiB, 9},
    {"a request cannot lift the cap", 64, 2, 24 * GiB, 9},
    {"nor the quarter of the memory", 64, 2, 2 * GiB, 4},
    {"a request within the budget stands", 3, 8, 24 * GiB, 3},
    {"also above the hardware threads", 3, 1, 24 * GiB, 3},
    {"always at least one", 8, 8, 256ull << 20, 1},
    {"a system that tells nothing", std::nullopt, 0, 0, 1},
};
INSTANTIATE_TEST_SUITE_P(, RecognitionThreads, ::testing::ValuesIn(kBudgets),
                         testing::namedBy<&Budget::name>);

class AnalyzerSpeech : public ::testing::Test {
 protected:
  void SetUp() override {
    clips_ = testing::speech::librivoxClips();
    ASSERT_EQ(clips_.size(), 5u);
  }
  ScratchDirectory scratch_;
  std::vector<Clip> clips_;
};

TEST_F(AnalyzerSpeech, DeliversFinalResultsInTimeOrderWhileTheConsumerReads) {
  const fs::path joined = scratch_.path() / "joined.wav";
  testing::speech::joinClips(clips_, 1.0, joined);
  auto transcriber = makeTranscriber();
  auto analyzer = makeRecognitionAnalyzer(transcriber, AnalyzerModel{systemModel()}, 3);
  auto consumer = consume(transcriber);  // reads before and during the analysis
  auto file = openDecodedAudioFile(joined.string());

  const std::optional<MediaTime> last = analyzer->analyzeSequence(*file);
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(*last, (MediaTime{soxSamples(joined), 16000}));
  analyzer->finalizeAndFinish(*last);
  const Consumed consumed = consumer.get();

  EXPECT_EQ(consumed.failure, "");
  ASSERT_GE(consumed.results.size(), clips_.size());
  int64_t previousEnd = 0;
  for (const auto& result : consumed.results) {
    SCOPED_TRACE(result.text);
    EXPECT_TRUE(result.isFinal);
    EXPECT_FALSE(result.text.empty());
    // Exact 16 kHz sample positions, in order, inside the file.
    EXPECT_EQ(result.range.start.timescale, 16000);
    EXPECT_EQ(result.range.duration.timescale, 16000);
    EXPECT_GE(result.range.start.value, previousEnd);
    EXPECT_GT(result.range.duration.value, 0);
    previousEnd = result.range.end().value;
    EXPECT_LE(result.range.end().seconds(), last->seconds());
  }
  // Each recording starts after the pause before it; its first words lie in its own span.
  int64_t clipStart = 0;
  size_t next = 0;
  for (const Clip& clip : clips_) {
    const int64_t clipEnd = clipStart + soxSamples(clip.path);
    ASSERT_LT(next, consumed.results.size());
    EXPECT_GE(consumed.results[next].range.start.value, clipStart) << clip.path;
    while (next < consumed.results.size() && consumed.results[next].range.start.value < clipEnd) {
      ++next;
    }
    clipStart = clipEnd + 16000;
  }
  EXPECT_EQ(next, consumed.results.size());
}

// Real decoders that count the transforms they are given and make sure each is cleared again:
// whether an analysis decoded a second time, adapted.
class CountingDecoders final : public DecoderSource {
 public:
  class Decoder final : public UtteranceDecoder {
   public:
    Decoder(std::unique_ptr<UtteranceDecoder> real, CountingDecoders& source)
        : real_(std::move(real)), source_(source) {}
    RecognisedSpeech decode(std::span<const int16_t> samples, FrequencyWarp warp) override {
      return real_->decode(samples, warp);
    }
    void adapt(const MeanTransform* transform) override {
      real_->adapt(transform);
      (transform != nullptr ? source_.adapted : source_.cleared)++;
    }

   private:
    std::unique_ptr<UtteranceDecoder> real_;
    CountingDecoders& source_;
  };

  std::unique_ptr<UtteranceDecoder> acquire() override {
    return std::make_unique<Decoder>(fresh_.acquire(), *this);
  }
  std::atomic<int> adapted{0};
  std::atomic<int> cleared{0};

 private:
  FreshDecoders fresh_{systemModel()};
};

// A second, adapted decoding where the first fits poorly and the recording is not noisy
// (telephone band), none on clean speech or in noise; either way one result per utterance with
// words, in order.
struct Recording {
  std::string name;
  std::vector<std::string> output;  // sox's options for the recording made of the clip
  std::string noise;                // and noise mixed in at 10 dB, when named
  bool adapted;
};

class Adaptation : public ::testing::TestWithParam<Recording> {};

TEST_P(Adaptation, DecodesASecondTimeOnlyWhereItPays) {
  ScratchDirectory scratch;
  const auto clips = testing::speech::librivoxClips();
  const fs::path made = scratch.path() / "made.wav";
  std::vector<std::string> arguments = {"-R", clips[0].path};
  arguments.insert(arguments.end(), GetParam().output.begin(), GetParam().output.end());
  arguments.push_back(made.string());
  testing::speech::sox(arguments);
  fs::path input = made;
  if (!GetParam().noise.empty()) {
    input = scratch.path() / "noisy.wav";
    testing::speech::addNoise(made, GetParam().noise, 10, input);
  }

  auto decoders = std::make_shared<CountingDecoders>();
  auto transcriber = makeTranscriber();
  auto analyzer = makeRecognitionAnalyzer(transcriber, AnalyzerModel{systemModel()}, decoders, 2);
  auto consumer = consume(transcriber);
  auto file = openDecodedAudioFile(input.string());
  const std::optional<MediaTime> last = analyzer->analyzeSequence(*file);
  ASSERT_TRUE(last.has_value());
  analyzer->finalizeAndFinish(*last);
  const Consumed consumed = consumer.get();
  EXPECT_EQ(consumed.failure, "");
  EXPECT_FALSE(consumed.results.empty());
  analyzer.reset();  // its decoders go back to their source
  EXPECT_EQ(decoders->adapted > 0, GetParam().adapted);
  EXPECT_EQ(decoders->cleared.load(), decoders->adapted.load());
}

const Recording kRecordings[] = {
    {"Clean", {}, "", false},
    {"TelephoneRate", {"-r", "8000"}, "", true},
    {"PinkNoise", {}, "pinknoise", false},
};

INSTANTIATE_TEST_SUITE_P(, Adaptation, ::testing::ValuesIn(kRecordings),
                         [](const auto& info) { return info.param.name; });

TEST_F(AnalyzerSpeech, LastSampleTimeIsInTheSourceRate) {
  const fs::path stereo = scratch_.path() / "stereo-44k.wav";
  testing::speech::sox({"-R", clips_[1].path, "-r", "44100", "-c", "2", stereo.string()});
  auto transcriber = makeTranscriber();
  auto analyzer = makeRecognitionAnalyzer(transcriber, AnalyzerModel{systemModel()}, 1);
  auto file = openDecodedAudioFile(stereo.string());
  const auto last = analyzer->analyzeSequence(*file);
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(*last, (MediaTime{soxSamples(stereo), 44100}));
  analyzer->finalizeAndFinish(*last);
  const auto result = transcriber->results()->next();
  ASSERT_TRUE(result.has_value());
  EXPECT_LE(result->range.end().seconds(), last->seconds());
}

TEST_F(AnalyzerSpeech, AFileWithoutSamplesHasNoLastSampleTime) {
  // A WAV header that announces no data: valid, but nothing to decode.
  const fs::path empty = scratch_.path() / "no-samples.wav";
  testing::speech::sox(
      {"-n", "-r", "16000", "-c", "1", "-b", "16", empty.string(), "trim", "0", "0"});
  auto transcriber = makeTranscriber();
  auto analyzer = makeRecognitionAnalyzer(transcriber, AnalyzerModel{systemModel()}, 2);
  auto file = openDecodedAudioFile(empty.string());
  EXPECT_EQ(analyzer->analyzeSequence(*file), std::nullopt);
  analyzer->cancelAndFinishNow();
  EXPECT_FALSE(transcriber->results()->next().has_value());
}

struct Failure {
  std::string name;
  AnalyzerModel model;
  std::string expected;  // the start of the error's description
};

class AnalyzerFailure : public AnalyzerSpeech, public ::testing::WithParamInterface<Failure> {};

TEST_P(AnalyzerFailure, EndsTheResultsWithTheSameError) {
  auto transcriber = makeTranscriber();
  auto analyzer = makeRecognitionAnalyzer(transcriber, GetParam().model, 2);
  auto consumer = consume(transcriber);
  auto file = openDecodedAudioFile(clips_[0].path);
  // A decoder loads on its worker, so its failure may surface when the audio is handed over
  // or when the analysis is finalized; either way it is thrown and ends the results.
  std::string thrown;
  try {
    if (auto last = analyzer->analyzeSequence(*file)) analyzer->finalizeAndFinish(*last);
  } catch (const PlatformError& error) {
    thrown = error.what();
  }
  EXPECT_THAT(thrown, StartsWith(GetParam().expected));
  const Consumed consumed = consumer.get();
  EXPECT_EQ(consumed.failure, thrown);
  EXPECT_TRUE(consumed.results.empty());
}

const Failure kFailures[] = {
    {"no model",
     AnalyzerModel{
         std::make_exception_ptr(PlatformError("The speech model for en_US is not installed"))},
     "The speech model for en_US is not installed"},
    {"broken model",
     AnalyzerModel{ModelFiles{"/nonexistent/en-us", "/nonexistent/en-us.lm.bin",
                              "/nonexistent/cmudict-en-us.dict"}},
     "Cannot load the speech model"},
};
INSTANTIATE_TEST_SUITE_P(, AnalyzerFailure, ::testing::ValuesIn(kFailures),
                         testing::namedBy<&Failure::name>);

TEST_F(AnalyzerSpeech, AnAudioFileThatFailsToReadEndsTheResultsWithItsFailure) {
  class BrokenAudio final : public AudioFile {
   public:
    bool read(std::vector<int16_t>& chunk) override {
      if (++reads > 3) throw PlatformError("Cannot read broken.wav: I/O error");
      chunk.assign(16000, 0);
      return true;
    }
    std::optional<MediaTime> lastSampleTime() const override { return std::nullopt; }
    int reads = 0;
  };
  BrokenAudio broken;
  auto transcriber = makeTranscriber();
  auto analyzer = makeRecognitionAnalyzer(transcriber, AnalyzerModel{systemModel()}, 1);
  EXPECT_THROW(analyzer->analyzeSequence(broken), PlatformError);
  EXPECT_THAT([&] { transcriber->results()->next(); },
              ThrowsMessage<PlatformError>(StrEq("Cannot read broken.wav: I/O error")));
}

TEST_F(AnalyzerSpeech, CancellingOrReleasingNeverLeavesTheConsumerWaiting) {
  const fs::path joined = scratch_.path() / "joined.wav";
  testing::speech::joinClips(clips_, 0.5, joined);

  // Cancelled right after the audio is read: the sequence ends at once, with whatever was
  // delivered before, in order.
  {
    auto transcriber = makeTranscriber();
    auto analyzer = makeRecognitionAnalyzer(transcriber, AnalyzerModel{systemModel()}, 2);
    auto consumer = consume(transcriber);
    auto file = openDecodedAudioFile(joined.string());
    ASSERT_TRUE(analyzer->analyzeSequence(*file).has_value());
    analyzer->cancelAndFinishNow();
    ASSERT_EQ(consumer.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    const Consumed consumed = consumer.get();
    EXPECT_EQ(consumed.failure, "");
    for (size_t i = 1; i < consumed.results.size(); ++i) {
      EXPECT_LT(consumed.results[i - 1].range.start.value, consumed.results[i].range.start.value);
    }
  }
  // Released without finishing, with the consumer parked in next(): the release joins the
  // decoders and the consumer learns the session is gone instead of waiting for ever.
  {
    auto transcriber = makeTranscriber();
    auto consumer = consume(transcriber);
    {
      auto analyzer = makeRecognitionAnalyzer(transcriber, AnalyzerModel{systemModel()}, 2);
      auto file = openDecodedAudioFile(joined.string());
      ASSERT_TRUE(analyzer->analyzeSequence(*file).has_value());
    }
    ASSERT_EQ(consumer.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_NE(consumer.get().failure, "");
  }
}

}  // namespace
}  // namespace ondevice
