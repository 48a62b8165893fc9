// The engine against a scripted platform: the order of platform calls for each command and
// branch, and every failure path.

#include "engine/apple_speech_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "engine/platform/platform_error.h"
#include "output/helper_error.h"
#include "tests/support/case_name.h"
#include "tests/support/scripted_platform.h"

namespace ondevice {
namespace {

using platform::AssetStatus;
using platform::MediaTime;
using platform::PlatformError;
using platform::TimeRange;
using platform::TranscriptionResult;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAreArray;
using ::testing::Field;
using ::testing::Matcher;
using testing::namedBy;
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
  bool available;
  std::string language;
  bool expectedAvailable;
  std::string expectedLanguage;
  Calls expectedCalls;
};

class IsAvailable : public ::testing::TestWithParam<Availability> {};

TEST_P(IsAvailable, AnswersForTheBranch) {
  const Availability& c = GetParam();
  ScriptedPlatform platform;
  platform.script.available = c.available;
  const AvailabilityOutput out = AppleSpeechEngine::isAvailable(platform, c.language);
  EXPECT_EQ(out.available, c.expectedAvailable);
  EXPECT_EQ(out.language, c.expectedLanguage);
  EXPECT_EQ(platform.calls(), c.expectedCalls);
}

const Availability kAvailabilities[] = {
    {"unavailable machine skips the lookup", false, "en-US", false, "en-US", {"isAvailable"}},
    {"supported answers the resolved identifier",
     true,
     "en-US",
     true,
     "en_US",
     {"isAvailable", "locale en-US", "lookup"}},
    {"unsupported echoes the string",
     true,
     "xx_YY ",
     false,
     "xx_YY ",
     {"isAvailable", "locale xx_YY ", "lookup"}},
    {"empty string is passed through", true, "", false, "", {"isAvailable", "locale ", "lookup"}},
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
  AssetStatus status;
  bool answersWithRequest;
  std::optional<ScriptedFailure> requestFailure;
  std::optional<ScriptedFailure> downloadFailure;
  std::optional<Matcher<Operation>> error;  // none: prepared
  Calls expectedCalls;
};

class Prepare : public ::testing::TestWithParam<Preparation> {};

TEST_P(Prepare, FollowsTheStatus) {
  const Preparation& c = GetParam();
  ScriptedPlatform platform;
  platform.script.status = c.status;
  platform.script.answersWithRequest = c.answersWithRequest;
  platform.script.requestFailure = c.requestFailure;
  platform.script.downloadFailure = c.downloadFailure;
  const auto prepare = [&] { return AppleSpeechEngine::prepare(platform, "en-US"); };
  if (c.error) {
    EXPECT_THAT(Operation(prepare), *c.error);
  } else {
    const PrepareOutput out = prepare();
    EXPECT_TRUE(out.prepared);
    EXPECT_EQ(out.language, "en_US");  // resolved, never the host's "en-US"
  }
  EXPECT_EQ(platform.calls(), c.expectedCalls);
}

// The calls of every preparation of en-US, then `tail`.
Calls preparing(const Calls& tail) {
  Calls all = {"locale en-US", "lookup", "transcriber en_US", "status 1"};
  all.insert(all.end(), tail.begin(), tail.end());
  return all;
}

const Preparation kPreparations[] = {
    {"installed makes no further call", AssetStatus::installed, true, {}, {}, {}, preparing({})},
    {"supported downloads",
     AssetStatus::supported,
     true,
     {},
     {},
     {},
     preparing({"request 1", "download"})},
    {"downloading still asks for a request",
     AssetStatus::downloading,
     true,
     {},
     {},
     {},
     preparing({"request 1", "download"})},
    {"no request means prepared without download",
     AssetStatus::supported,
     false,
     {},
     {},
     {},
     preparing({"request 1"})},
    {"unsupported names the resolved identifier",
     AssetStatus::unsupported,
     true,
     {},
     {},
     helperError("Assets not supported for locale: en_US"),
     preparing({})},
    {"unknown status",
     static_cast<AssetStatus>(7),
     true,
     {},
     {},
     helperError("Unknown asset inventory status."),
     preparing({})},
    {"request failure passes unchanged",
     AssetStatus::supported,
     true,
     ScriptedFailure{"no network"},
     {},
     platformError("no network"),
     preparing({"request 1"})},
    {"download failure passes unchanged",
     AssetStatus::downloading,
     true,
     {},
     ScriptedFailure{"Download of assets for en_US failed: HTTP 404"},
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
  AssetStatus status;
  std::optional<MediaTime> lastSampleTime;
  Calls expectedCalls;
};

class TranscribeOrder : public ::testing::TestWithParam<Order> {};

TEST_P(TranscribeOrder, CallsThePlatformInOrder) {
  ScriptedPlatform platform;
  platform.script.status = GetParam().status;
  platform.script.lastSampleTime = GetParam().lastSampleTime;
  const auto out = AppleSpeechEngine::transcribe(platform, kFile, "en-US", GetParam().autoPrepare);
  EXPECT_EQ(platform.calls(), GetParam().expectedCalls);
  EXPECT_EQ(out.language, "en_US");
  EXPECT_FALSE(out.isAborted);
  EXPECT_EQ(out.duration, GetParam().lastSampleTime ? 1.0 : 0.0);
}

const Order kOrders[] = {
    {"prepares, then finalizes through the last sample",
     true,
     AssetStatus::supported,
     MediaTime{16000, 16000},
     {"locale en-US", "lookup", "locale en_US", "lookup", "transcriber en_US", "status 1",
      "request 1", "download", "exists /tmp/talk.wav", "open /tmp/talk.wav", "transcriber en_US",
      "analyzer 1", "analyze", "finalize"}},
    {"no-prepare asks nothing about assets",
     false,
     AssetStatus::supported,
     MediaTime{16000, 16000},
     {"locale en-US", "lookup", "exists /tmp/talk.wav", "open /tmp/talk.wav", "transcriber en_US",
      "analyzer 1", "analyze", "finalize"}},
    {"no last sample time cancels",
     false,
     AssetStatus::installed,
     std::nullopt,
     {"locale en-US", "lookup", "exists /tmp/talk.wav", "open /tmp/talk.wav", "transcriber en_US",
      "analyzer 1", "analyze", "cancel"}},
};
INSTANTIATE_TEST_SUITE_P(, TranscribeOrder, ::testing::ValuesIn(kOrders), namedBy<&Order::name>);

TEST(Transcribe, CollectorRunsDuringTheAnalysis) {
  ScriptedPlatform platform;
  platform.script.results = {finalResult("hello", {0, 1}, {1, 2})};
  platform.script.awaitConsumerDuringAnalysis = true;
  const auto out = AppleSpeechEngine::transcribe(platform, kFile, "en_US", false);
  EXPECT_THAT(platform.calls(), Contains("consumed during analysis"));
  ASSERT_EQ(out.segments.size(), 1u);
  EXPECT_EQ(out.result, "hello");
}

struct Failure {
  std::string name;
  std::string language;
  bool autoPrepare;
  std::function<void(testing::Script&)> arrange;
  Matcher<Operation> error;
  std::string lastCall;
};

class TranscribeFailure : public ::testing::TestWithParam<Failure> {};

TEST_P(TranscribeFailure, PassesOutAsTheTableSays) {
  const Failure& c = GetParam();
  ScriptedPlatform platform;
  c.arrange(platform.script);
  EXPECT_THAT(
      Operation([&] { AppleSpeechEngine::transcribe(platform, kFile, c.language, c.autoPrepare); }),
      c.error);
  ASSERT_FALSE(platform.calls().empty());
  EXPECT_EQ(platform.calls().back(), c.lastCall);
}

const Failure kFailures[] = {
    {"unsupported language is reported before the missing file", "xx", true,
     [](auto& s) { s.fileExists = false; }, helperError("Locale not supported: xx"), "lookup"},
    {"missing file after the download", "en_US", true,
     [](auto& s) {
       s.status = AssetStatus::supported;
       s.fileExists = false;
     },
     helperError("Invalid audio file: /tmp/talk.wav"), "exists /tmp/talk.wav"},
    {"missing file without preparation", "en_US", false, [](auto& s) { s.fileExists = false; },
     helperError("Invalid audio file: /tmp/talk.wav"), "exists /tmp/talk.wav"},
    {"undecodable file hides the platform's message", "en_US", false,
     [](auto& s) {
       s.openFailure = ScriptedFailure{"codec soup", ScriptedFailure::Kind::undecodableAudio};
     },
     helperError("Invalid audio file: /tmp/talk.wav"), "open /tmp/talk.wav"},
    // Only the file's own fault is invalid audio; the platform failing to open it is not.
    {"a speech module that cannot be loaded passes unchanged", "en_US", false,
     [](auto& s) {
       s.openFailure = ScriptedFailure{"The speech module could not be loaded: bad ELF"};
     },
     platformError("The speech module could not be loaded: bad ELF"), "open /tmp/talk.wav"},
    {"running out of memory passes unchanged", "en_US", false,
     [](auto& s) {
       s.openFailure = ScriptedFailure{"", ScriptedFailure::Kind::outOfMemory};
     },
     Throws<std::bad_alloc>(), "open /tmp/talk.wav"},
    {"preparation failure", "en_US", true, [](auto& s) { s.status = AssetStatus::unsupported; },
     helperError("Assets not supported for locale: en_US"), "status 1"},
    {"analysis failure calls no finish", "en_US", false,
     [](auto& s) { s.analysisFailure = ScriptedFailure{"decoder broke"}; },
     platformError("decoder broke"), "analyze"},
    {"finalization failure", "en_US", false,
     [](auto& s) { s.finalizeFailure = ScriptedFailure{"cannot finish"}; },
     platformError("cannot finish"), "finalize"},
    {"results sequence failure drops the finals before it", "en_US", false,
     [](auto& s) {
       s.results = {finalResult("one", {0, 1}, {1, 1}), finalResult("two", {1, 1}, {1, 1})};
       s.sequenceFailure = ScriptedFailure{"results broke"};
     },
     platformError("results broke"), "finalize"},
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
  std::thread(std::move(transcription)).detach();
  ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
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
  platform.script.results = GetParam().results;
  platform.script.lastSampleTime = MediaTime{44100 * 3, 44100};
  const auto out = AppleSpeechEngine::transcribe(platform, kFile, "en_US", false);
  std::vector<Matcher<Segment>> segments;
  for (const Segment& s : GetParam().expectedSegments) {
    segments.push_back(
        AllOf(Field(&Segment::text, s.text), Field(&Segment::t0, s.t0), Field(&Segment::t1, s.t1)));
  }
  EXPECT_THAT(out.segments, ElementsAreArray(segments));
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
