// The engine against a scripted platform: the order of platform calls for each command and
// branch, and every failure path.

#include "engine/apple_speech_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "output/helper_error.h"
#include "platform/api/platform_error.h"
#include "tests/support/case_name.h"
#include "tests/support/scripted_platform.h"

namespace ondevice {
namespace {

using platform::AssetStatus;
using platform::MediaTime;
using platform::PlatformError;
using platform::TimeRange;
using platform::TranscriptionResult;
using ::testing::Contains;
using ::testing::Matcher;
using testing::namedBy;
using ::testing::Pointwise;
using testing::Script;
using testing::ScriptedFailure;
using testing::ScriptedPlatform;
using ::testing::StrEq;
using ::testing::Throws;
using ::testing::ThrowsMessage;
using Calls = std::vector<std::string>;
using Operation = std::function<void()>;

TranscriptionResult finalResult(std::string text, MediaTime start, MediaTime duration) {
  return TranscriptionResult{true, std::move(text), TimeRange{start, duration}};
}

MATCHER(SameSegment, "") {
  const auto& [got, expected] = arg;
  return got.text == expected.text && got.t0 == expected.t0 && got.t1 == expected.t1;
}

// The tool's own failure with this description, and one of the platform passed on unchanged.
Matcher<Operation> helperError(const std::string& description) {
  return ThrowsMessage<HelperError>(StrEq(description));
}
Matcher<Operation> platformError(const std::string& description) {
  return ThrowsMessage<PlatformError>(StrEq(description));
}

// ---- availability -------------------------------------------------------------------------

struct Availability {
  std::string name;
  Script script;
  std::string language;
  bool expectedAvailable;
  std::string expectedLanguage;
  Calls expectedCalls;
};

class IsAvailable : public ::testing::TestWithParam<Availability> {};

TEST_P(IsAvailable, AnswersForTheBranch) {
  ScriptedPlatform platform;
  platform.script = GetParam().script;
  const AvailabilityOutput out = AppleSpeechEngine::isAvailable(platform, GetParam().language);
  EXPECT_EQ(out.available, GetParam().expectedAvailable);
  EXPECT_EQ(out.language, GetParam().expectedLanguage);
  EXPECT_EQ(platform.calls(), GetParam().expectedCalls);
}

const Availability kAvailabilities[] = {
    {"unavailable machine skips the lookup",
     {.available = false},
     "en-US",
     false,
     "en-US",
     {"isAvailable"}},
    {"supported answers the resolved identifier",
     {},
     "en-US",
     true,
     "en_US",
     {"isAvailable", "locale en-US", "lookup"}},
    {"unsupported echoes the string",
     {},
     "xx_YY ",
     false,
     "xx_YY ",
     {"isAvailable", "locale xx_YY ", "lookup"}},
    {"empty string is passed through", {}, "", false, "", {"isAvailable", "locale ", "lookup"}},
};
INSTANTIATE_TEST_SUITE_P(, IsAvailable, ::testing::ValuesIn(kAvailabilities),
                         namedBy<&Availability::name>);

TEST(SupportedLocale, NamesTheHostsStringWhenUnsupported) {
  ScriptedPlatform platform;
  EXPECT_THAT([&] { AppleSpeechEngine::supportedLocale(platform, "de_DE"); },
              helperError("Locale not supported: de_DE"));
}

// ---- transcriber configuration ------------------------------------------------------------

TEST(CreateTranscriber, TakesThePresetWithoutAlternatives) {
  ScriptedPlatform platform;
  const auto english = AppleSpeechEngine::createTranscriber(platform, platform::Locale("en_US"));
  const auto german = AppleSpeechEngine::createTranscriber(platform, platform::Locale("de_DE"));
  const auto preset =
      platform::SpeechTranscriber::Preset::timeIndexedTranscriptionWithAlternatives();
  for (const auto& transcriber : {english, german}) {
    EXPECT_EQ(transcriber->transcriptionOptions(), preset.transcriptionOptions);
    EXPECT_EQ(transcriber->attributeOptions(), preset.attributeOptions);
    EXPECT_FALSE(transcriber->reportingOptions().contains(
        platform::ReportingOption::alternativeTranscriptions));
    EXPECT_TRUE(transcriber->reportingOptions().empty());
  }
  EXPECT_EQ(english->locale().identifier(), "en_US");
  EXPECT_EQ(german->locale().identifier(), "de_DE");
}

// ---- preparation --------------------------------------------------------------------------

struct Preparation {
  std::string name;
  Script script;
  std::optional<Matcher<Operation>> error;  // none: prepared
  Calls expectedCalls;
};

class Prepare : public ::testing::TestWithParam<Preparation> {};

TEST_P(Prepare, FollowsTheStatus) {
  ScriptedPlatform platform;
  platform.script = GetParam().script;
  const auto prepare = [&] { return AppleSpeechEngine::prepare(platform, "en-US"); };
  if (GetParam().error) {
    EXPECT_THAT(Operation(prepare), *GetParam().error);
  } else {
    const PrepareOutput out = prepare();
    EXPECT_TRUE(out.prepared);
    EXPECT_EQ(out.language, "en_US");  // resolved, never the host's "en-US"
  }
  EXPECT_EQ(platform.calls(), GetParam().expectedCalls);
}

// The calls of every preparation of en-US, then `tail`.
Calls preparing(const Calls& tail) {
  Calls all = {"locale en-US", "lookup", "transcriber en_US", "status 1"};
  all.insert(all.end(), tail.begin(), tail.end());
  return all;
}

const Preparation kPreparations[] = {
    {"installed makes no further call", {.status = AssetStatus::installed}, {}, preparing({})},
    {"supported downloads",
     {.status = AssetStatus::supported},
     {},
     preparing({"request 1", "download"})},
    {"downloading still asks for a request",
     {.status = AssetStatus::downloading},
     {},
     preparing({"request 1", "download"})},
    {"no request means prepared without download",
     {.status = AssetStatus::supported, .answersWithRequest = false},
     {},
     preparing({"request 1"})},
    {"unsupported names the resolved identifier",
     {.status = AssetStatus::unsupported},
     helperError("Assets not supported for locale: en_US"),
     preparing({})},
    {"unknown status",
     {.status = static_cast<AssetStatus>(7)},
     helperError("Unknown asset inventory status."),
     preparing({})},
    {"request failure passes unchanged",
     {.status = AssetStatus::supported, .requestFailure = ScriptedFailure{"no network"}},
     platformError("no network"),
     preparing({"request 1"})},
    {"download failure passes unchanged",
     {.status = AssetStatus::downloading,
      .downloadFailure = ScriptedFailure{"Download of assets for en_US failed: HTTP 404"}},
     platformError("Download of assets for en_US failed: HTTP 404"),
     preparing({"request 1", "download"})},
};
INSTANTIATE_TEST_SUITE_P(, Prepare, ::testing::ValuesIn(kPreparations),
                         namedBy<&Preparation::name>);

TEST(PrepareUnsupported, StopsAfterTheLookup) {
  ScriptedPlatform platform;
  EXPECT_THAT([&] { AppleSpeechEngine::prepare(platform, "fr_FR"); },
              helperError("Locale not supported: fr_FR"));
  EXPECT_EQ(platform.calls(), (Calls{"locale fr_FR", "lookup"}));
}

// ---- transcription ------------------------------------------------------------------------

const FileURL kFile = FileURL::fileURLWithPath("/tmp/talk.wav");

struct Order {
  std::string name;
  bool autoPrepare;
  Script script;
  Calls expectedCalls;
};

class TranscribeOrder : public ::testing::TestWithParam<Order> {};

TEST_P(TranscribeOrder, CallsThePlatformInOrder) {
  ScriptedPlatform platform;
  platform.script = GetParam().script;
  const auto out = AppleSpeechEngine::transcribe(platform, kFile, "en-US", GetParam().autoPrepare);
  EXPECT_EQ(platform.calls(), GetParam().expectedCalls);
  EXPECT_EQ(out.language, "en_US");
  EXPECT_FALSE(out.isAborted);
  EXPECT_EQ(out.duration, GetParam().script.lastSampleTime ? 1.0 : 0.0);
}

const Order kOrders[] = {
    {"prepares, then finalizes through the last sample",
     true,
     {.status = AssetStatus::supported, .lastSampleTime = MediaTime{16000, 16000}},
     {"locale en-US", "lookup", "transcriber en_US", "status 1", "request 1", "download",
      "exists /tmp/talk.wav", "open /tmp/talk.wav", "analyzer 1", "analyze", "finalize"}},
    {"no-prepare asks nothing about assets",
     false,
     {.status = AssetStatus::supported, .lastSampleTime = MediaTime{16000, 16000}},
     {"locale en-US", "lookup", "exists /tmp/talk.wav", "open /tmp/talk.wav", "transcriber en_US",
      "analyzer 1", "analyze", "finalize"}},
    {"no last sample time cancels",
     false,
     {.status = AssetStatus::installed, .lastSampleTime = std::nullopt},
     {"locale en-US", "lookup", "exists /tmp/talk.wav", "open /tmp/talk.wav", "transcriber en_US",
      "analyzer 1", "analyze", "cancel"}},
};
INSTANTIATE_TEST_SUITE_P(, TranscribeOrder, ::testing::ValuesIn(kOrders), namedBy<&Order::name>);

struct Failure {
  std::string name;
  std::string language;
  bool autoPrepare;
  Script script;
  Matcher<Operation> error;
  std::string lastCall;
};

class TranscribeFailure : public ::testing::TestWithParam<Failure> {};

TEST_P(TranscribeFailure, PassesOutAsTheTableSays) {
  ScriptedPlatform platform;
  platform.script = GetParam().script;
  EXPECT_THAT(Operation([&] {
                AppleSpeechEngine::transcribe(platform, kFile, GetParam().language,
                                              GetParam().autoPrepare);
              }),
              GetParam().error);
  ASSERT_FALSE(platform.calls().empty());
  EXPECT_EQ(platform.calls().back(), GetParam().lastCall);
}

const Failure kFailures[] = {
    {"unsupported language is reported before the missing file",
     "xx",
     true,
     {.fileExists = false},
     helperError("Locale not supported: xx"),
     "lookup"},
    {"missing file after the download",
     "en_US",
     true,
     {.status = AssetStatus::supported, .fileExists = false},
     helperError("Invalid audio file: /tmp/talk.wav"),
     "exists /tmp/talk.wav"},
    {"missing file without preparation",
     "en_US",
     false,
     {.fileExists = false},
     helperError("Invalid audio file: /tmp/talk.wav"),
     "exists /tmp/talk.wav"},
    {"undecodable file hides the platform's message",
     "en_US",
     false,
     {.openFailure = ScriptedFailure{"codec soup", ScriptedFailure::Kind::undecodableAudio}},
     helperError("Invalid audio file: /tmp/talk.wav"),
     "open /tmp/talk.wav"},
    // Only the file's own fault is invalid audio; the platform failing to open it is not.
    {"a speech module that cannot be loaded passes unchanged",
     "en_US",
     false,
     {.openFailure = ScriptedFailure{"The speech module could not be loaded: bad ELF"}},
     platformError("The speech module could not be loaded: bad ELF"),
     "open /tmp/talk.wav"},
    {"running out of memory passes unchanged",
     "en_US",
     false,
     {.openFailure = ScriptedFailure{"", ScriptedFailure::Kind::outOfMemory}},
     Throws<std::bad_alloc>(),
     "open /tmp/talk.wav"},
    {"preparation failure",
     "en_US",
     true,
     {.status = AssetStatus::unsupported},
     helperError("Assets not supported for locale: en_US"),
     "status 1"},
    {"analysis failure calls no finish",
     "en_US",
     false,
     {.analysisFailure = ScriptedFailure{"decoder broke"}},
     platformError("decoder broke"),
     "analyze"},
    {"finalization failure",
     "en_US",
     false,
     {.finalizeFailure = ScriptedFailure{"cannot finish"}},
     platformError("cannot finish"),
     "finalize"},
    {"results sequence failure drops the finals before it",
     "en_US",
     false,
     {.results = {finalResult("one", {0, 1}, {1, 1}), finalResult("two", {1, 1}, {1, 1})},
      .sequenceFailure = ScriptedFailure{"results broke"}},
     platformError("results broke"),
     "finalize"},
};
INSTANTIATE_TEST_SUITE_P(, TranscribeFailure, ::testing::ValuesIn(kFailures),
                         namedBy<&Failure::name>);

TEST(Transcribe, FailedAnalysisReturnsWhileTheSequenceStaysOpen) {
  ScriptedPlatform platform;
  platform.script.results = {finalResult("pending", {0, 1}, {1, 1})};
  platform.script.analysisFailure = ScriptedFailure{"decoder broke"};
  // The scripted analyzer never ends the sequence on failure, so the collector stays parked.
  std::packaged_task<void()> transcription(
      [&platform] { AppleSpeechEngine::transcribe(platform, kFile, "en_US", false); });
  auto done = transcription.get_future();
  std::thread worker(std::move(transcription));
  if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    worker.detach();
    FAIL() << "the transcription did not return";
  }
  // Joined before the failure is read: the worker's copy of the task shares the exception,
  // whose release the thread sanitizer cannot see ordered after the read otherwise.
  worker.join();
  EXPECT_THAT([&] { done.get(); }, platformError("decoder broke"));
  EXPECT_FALSE(platform.transcribers().back()->results()->hasEnded());
}

// ---- result collection --------------------------------------------------------------------

const MediaTime kZero{0, 1};

struct Collection {
  std::string name;
  std::vector<TranscriptionResult> results;
  std::vector<Segment> expectedSegments;
  std::string expectedResult;
};

class TranscribeCollection : public ::testing::TestWithParam<Collection> {};

TEST_P(TranscribeCollection, BuildsSegmentsFromFinalResults) {
  ScriptedPlatform platform;
  platform.script = {.results = GetParam().results, .lastSampleTime = MediaTime{44100 * 3, 44100}};
  const auto out = AppleSpeechEngine::transcribe(platform, kFile, "en_US", false);
  EXPECT_THAT(out.segments, Pointwise(SameSegment(), GetParam().expectedSegments));
  EXPECT_EQ(out.result, GetParam().expectedResult);
  EXPECT_EQ(out.duration, 3.0);  // even when no segment came
}

const Collection kCollections[] = {
    {"exact milliseconds", {finalResult("hi", {3, 2}, {1, 4})}, {{"hi", 1500.0, 1750.0}}, "hi"},
    {"non-final results are never read, even with a broken range",
     {TranscriptionResult{false, "draft", TimeRange{{1, 0}, {1, 0}}},
      finalResult("kept", kZero, {1, 1})},
     {{"kept", 0.0, 1000.0}},
     "kept"},
    {"whitespace-only finals are dropped",
     {finalResult(" \t\n\r\u00a0\u3000\u2028", kZero, {1, 1}), finalResult("x", kZero, {1, 1})},
     {{"x", 0.0, 1000.0}},
     "x"},
    {"surrounding whitespace goes, inner runs stay",
     {finalResult("  a  b\n", kZero, {1, 2}), finalResult("\u2003c\u0085", {1, 2}, {1, 2})},
     {{"a  b", 0.0, 500.0}, {"c", 500.0, 1000.0}},
     "a  b c"},
    {"same range twice keeps both in delivery order",
     {finalResult("b", kZero, {1, 1}), finalResult("a", kZero, {1, 1})},
     {{"b", 0.0, 1000.0}, {"a", 0.0, 1000.0}},
     "b a"},
    {"no final result", {TranscriptionResult{false, "maybe", {}}}, {}, ""},
    {"text beyond ASCII", {finalResult("café", kZero, {1, 1})}, {{"café", 0.0, 1000.0}}, "café"},
};
INSTANTIATE_TEST_SUITE_P(, TranscribeCollection, ::testing::ValuesIn(kCollections),
                         namedBy<&Collection::name>);

}  // namespace
}  // namespace ondevice
