// The engine against a scripted platform: the order of platform calls for each command and
// branch, and every failure path.

#include "engine/apple_speech_engine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "engine/platform/platform_error.h"
#include "output/helper_error.h"
#include "tests/support/scripted_platform.h"

namespace ondevice {
namespace {

using platform::AssetStatus;
using platform::MediaTime;
using platform::PlatformError;
using platform::TimeRange;
using platform::TranscriptionResult;
using testing::ScriptedFailure;
using testing::ScriptedPlatform;
using Calls = std::vector<std::string>;

TranscriptionResult finalResult(std::string text, MediaTime start, MediaTime duration) {
  return TranscriptionResult{true, std::move(text), TimeRange{start, duration}};
}

// The error an operation threw, as the entry point would describe it.
template <typename Operation>
std::string errorOf(Operation&& operation) {
  try {
    operation();
  } catch (const HelperError& e) {
    return "HelperError: " + e.errorDescription();
  } catch (const std::exception& e) {
    return std::string("platform: ") + e.what();
  }
  return "no error";
}

// ---- availability -------------------------------------------------------------------------

TEST(IsAvailable, AnswersForEachBranch) {
  struct Case {
    const char* name;
    bool available;
    std::string language;
    bool expectedAvailable;
    std::string expectedLanguage;
    Calls expectedCalls;
  };
  const std::vector<Case> cases = {
      {"unavailable machine skips the lookup", false, "en-US", false, "en-US", {"isAvailable"}},
      {"supported answers the resolved identifier", true, "en-US", true, "en_US",
       {"isAvailable", "locale en-US", "lookup"}},
      {"unsupported echoes the string", true, "xx_YY ", false, "xx_YY ",
       {"isAvailable", "locale xx_YY ", "lookup"}},
      {"empty string is passed through", true, "", false, "",
       {"isAvailable", "locale ", "lookup"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPlatform platform;
    platform.script.available = c.available;
    const AvailabilityOutput out = AppleSpeechEngine::isAvailable(platform, c.language);
    EXPECT_EQ(out.available, c.expectedAvailable);
    EXPECT_EQ(out.language, c.expectedLanguage);
    EXPECT_EQ(platform.calls(), c.expectedCalls);
  }
}

TEST(SupportedLocale, NamesTheHostsStringWhenUnsupported) {
  ScriptedPlatform platform;
  EXPECT_EQ(errorOf([&] { AppleSpeechEngine::supportedLocale(platform, "de_DE"); }),
            "HelperError: Locale not supported: de_DE");
}

// ---- transcriber configuration ------------------------------------------------------------

TEST(CreateTranscriber, TakesThePresetWithoutAlternatives) {
  ScriptedPlatform platform;
  const auto english = AppleSpeechEngine::createTranscriber(platform, platform::Locale("en_US"));
  const auto german = AppleSpeechEngine::createTranscriber(platform, platform::Locale("de_DE"));
  const auto preset = platform::SpeechTranscriber::Preset::timeIndexedTranscriptionWithAlternatives();
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

TEST(Prepare, FollowsTheStatus) {
  struct Case {
    const char* name;
    AssetStatus status;
    bool answersWithRequest;
    std::optional<ScriptedFailure> requestFailure;
    std::optional<ScriptedFailure> downloadFailure;
    std::string expectedError;  // empty: prepared
    Calls expectedCalls;
  };
  const Calls head = {"locale en-US", "lookup", "transcriber en_US", "status 1"};
  const auto with = [&](Calls tail) {
    Calls all = head;
    all.insert(all.end(), tail.begin(), tail.end());
    return all;
  };
  const std::vector<Case> cases = {
      {"installed makes no further call", AssetStatus::installed, true, {}, {}, "", with({})},
      {"supported downloads", AssetStatus::supported, true, {}, {}, "",
       with({"request 1", "download"})},
      {"downloading still asks for a request", AssetStatus::downloading, true, {}, {}, "",
       with({"request 1", "download"})},
      {"no request means prepared without download", AssetStatus::supported, false, {}, {}, "",
       with({"request 1"})},
      {"unsupported names the resolved identifier", AssetStatus::unsupported, true, {}, {},
       "HelperError: Assets not supported for locale: en_US", with({})},
      {"unknown status", static_cast<AssetStatus>(7), true, {}, {},
       "HelperError: Unknown asset inventory status.", with({})},
      {"request failure passes unchanged", AssetStatus::supported, true,
       ScriptedFailure{"no network"}, {}, "platform: no network", with({"request 1"})},
      {"download failure passes unchanged", AssetStatus::downloading, true, {},
       ScriptedFailure{"Download of assets for en_US failed: HTTP 404"},
       "platform: Download of assets for en_US failed: HTTP 404",
       with({"request 1", "download"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPlatform platform;
    platform.script.status = c.status;
    platform.script.answersWithRequest = c.answersWithRequest;
    platform.script.requestFailure = c.requestFailure;
    platform.script.downloadFailure = c.downloadFailure;
    std::optional<PrepareOutput> out;
    const std::string error =
        errorOf([&] { out = AppleSpeechEngine::prepare(platform, "en-US"); });
    if (c.expectedError.empty()) {
      ASSERT_TRUE(out) << error;
      EXPECT_TRUE(out->prepared);
      EXPECT_EQ(out->language, "en_US");  // resolved, never the host's "en-US"
    } else {
      EXPECT_EQ(error, c.expectedError);
    }
    EXPECT_EQ(platform.calls(), c.expectedCalls);
  }
}

TEST(Prepare, UnsupportedLanguageStopsAfterTheLookup) {
  ScriptedPlatform platform;
  EXPECT_EQ(errorOf([&] { AppleSpeechEngine::prepare(platform, "fr_FR"); }),
            "HelperError: Locale not supported: fr_FR");
  EXPECT_EQ(platform.calls(), (Calls{"locale fr_FR", "lookup"}));
}

// ---- transcription ------------------------------------------------------------------------

const FileURL kFile = FileURL::fileURLWithPath("/tmp/talk.wav");

TEST(Transcribe, CallsThePlatformInOrder) {
  struct Case {
    const char* name;
    bool autoPrepare;
    AssetStatus status;
    std::optional<MediaTime> lastSampleTime;
    Calls expectedCalls;
  };
  const std::vector<Case> cases = {
      {"prepares, then finalizes through the last sample", true, AssetStatus::supported,
       MediaTime{16000, 16000},
       {"locale en-US", "lookup", "locale en_US", "lookup", "transcriber en_US", "status 1",
        "request 1", "download", "exists /tmp/talk.wav", "open /tmp/talk.wav",
        "transcriber en_US", "analyzer 1", "analyze", "finalize"}},
      {"no-prepare asks nothing about assets", false, AssetStatus::supported,
       MediaTime{16000, 16000},
       {"locale en-US", "lookup", "exists /tmp/talk.wav", "open /tmp/talk.wav",
        "transcriber en_US", "analyzer 1", "analyze", "finalize"}},
      {"no last sample time cancels", false, AssetStatus::installed, std::nullopt,
       {"locale en-US", "lookup", "exists /tmp/talk.wav", "open /tmp/talk.wav",
        "transcriber en_US", "analyzer 1", "analyze", "cancel"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPlatform platform;
    platform.script.status = c.status;
    platform.script.lastSampleTime = c.lastSampleTime;
    const auto out = AppleSpeechEngine::transcribe(platform, kFile, "en-US", c.autoPrepare);
    EXPECT_EQ(platform.calls(), c.expectedCalls);
    EXPECT_EQ(out.language, "en_US");
    EXPECT_FALSE(out.isAborted);
    EXPECT_EQ(out.duration, c.lastSampleTime ? 1.0 : 0.0);
  }
}

TEST(Transcribe, CollectorRunsDuringTheAnalysis) {
  ScriptedPlatform platform;
  platform.script.results = {finalResult("hello", {0, 1}, {1, 2})};
  platform.script.awaitConsumerDuringAnalysis = true;
  const auto out = AppleSpeechEngine::transcribe(platform, kFile, "en_US", false);
  const Calls calls = platform.calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "consumed during analysis"), calls.end());
  ASSERT_EQ(out.segments.size(), 1u);
  EXPECT_EQ(out.result, "hello");
}

TEST(Transcribe, FailuresPassOutAsTheTableSays) {
  struct Case {
    const char* name;
    std::string language;
    bool autoPrepare;
    std::function<void(testing::Script&)> arrange;
    std::string expectedError;
    std::string lastCall;
  };
  const std::vector<Case> cases = {
      {"unsupported language is reported before the missing file", "xx", true,
       [](auto& s) { s.fileExists = false; }, "HelperError: Locale not supported: xx", "lookup"},
      {"missing file after the download", "en_US", true,
       [](auto& s) {
         s.status = AssetStatus::supported;
         s.fileExists = false;
       },
       "HelperError: Invalid audio file: /tmp/talk.wav", "exists /tmp/talk.wav"},
      {"missing file without preparation", "en_US", false, [](auto& s) { s.fileExists = false; },
       "HelperError: Invalid audio file: /tmp/talk.wav", "exists /tmp/talk.wav"},
      {"undecodable file hides the platform's message", "en_US", false,
       [](auto& s) {
         s.openFailure = ScriptedFailure{"codec soup", ScriptedFailure::Kind::undecodableAudio};
       },
       "HelperError: Invalid audio file: /tmp/talk.wav", "open /tmp/talk.wav"},
      // Only the file's own fault is invalid audio; the platform failing to open it is not.
      {"a speech module that cannot be loaded passes unchanged", "en_US", false,
       [](auto& s) {
         s.openFailure = ScriptedFailure{"The speech module could not be loaded: bad ELF"};
       },
       "platform: The speech module could not be loaded: bad ELF", "open /tmp/talk.wav"},
      {"running out of memory passes unchanged", "en_US", false,
       [](auto& s) { s.openFailure = ScriptedFailure{"", ScriptedFailure::Kind::outOfMemory}; },
       "platform: std::bad_alloc", "open /tmp/talk.wav"},
      {"preparation failure", "en_US", true,
       [](auto& s) { s.status = AssetStatus::unsupported; },
       "HelperError: Assets not supported for locale: en_US", "status 1"},
      {"analysis failure calls no finish", "en_US", false,
       [](auto& s) { s.analysisFailure = ScriptedFailure{"decoder broke"}; },
       "platform: decoder broke", "analyze"},
      {"finalization failure", "en_US", false,
       [](auto& s) { s.finalizeFailure = ScriptedFailure{"cannot finish"}; },
       "platform: cannot finish", "finalize"},
      {"results sequence failure drops the finals before it", "en_US", false,
       [](auto& s) {
         s.results = {finalResult("one", {0, 1}, {1, 1}), finalResult("two", {1, 1}, {1, 1})};
         s.sequenceFailure = ScriptedFailure{"results broke"};
       },
       "platform: results broke", "finalize"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPlatform platform;
    c.arrange(platform.script);
    EXPECT_EQ(errorOf([&] {
                AppleSpeechEngine::transcribe(platform, kFile, c.language, c.autoPrepare);
              }),
              c.expectedError);
    ASSERT_FALSE(platform.calls().empty());
    EXPECT_EQ(platform.calls().back(), c.lastCall);
  }
}

TEST(Transcribe, FailedAnalysisReturnsWhileTheSequenceStaysOpen) {
  ScriptedPlatform platform;
  platform.script.results = {finalResult("pending", {0, 1}, {1, 1})};
  platform.script.analysisFailure = ScriptedFailure{"decoder broke"};
  // The scripted analyzer never ends the sequence on failure, so the collector stays parked.
  std::promise<std::string> outcome;
  auto future = outcome.get_future();
  std::thread([&platform, promise = std::move(outcome)]() mutable {
    promise.set_value(errorOf([&] { AppleSpeechEngine::transcribe(platform, kFile, "en_US", false); }));
  }).detach();
  ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(future.get(), "platform: decoder broke");
  EXPECT_FALSE(platform.transcribers().back()->results()->hasEnded());
}

// ---- result collection --------------------------------------------------------------------

TEST(Transcribe, BuildsSegmentsFromFinalResults) {
  const MediaTime zero{0, 1};
  struct Case {
    const char* name;
    std::vector<TranscriptionResult> results;
    std::vector<std::tuple<std::string, double, double>> expectedSegments;
    std::string expectedResult;
  };
  const std::vector<Case> cases = {
      {"exact milliseconds", {finalResult("hi", {3, 2}, {1, 4})}, {{"hi", 1500.0, 1750.0}}, "hi"},
      {"non-final results are never read, even with a broken range",
       {TranscriptionResult{false, "draft", TimeRange{{1, 0}, {1, 0}}},
        finalResult("kept", zero, {1, 1})},
       {{"kept", 0.0, 1000.0}},
       "kept"},
      {"whitespace-only finals are dropped",
       {finalResult(" \t\n\r\u00a0\u3000\u2028", zero, {1, 1}), finalResult("x", zero, {1, 1})},
       {{"x", 0.0, 1000.0}},
       "x"},
      {"surrounding whitespace goes, inner runs stay",
       {finalResult("  a  b\n", zero, {1, 2}), finalResult("\u2003c\u0085", {1, 2}, {1, 2})},
       {{"a  b", 0.0, 500.0}, {"c", 500.0, 1000.0}},
       "a  b c"},
      {"same range twice keeps both in delivery order",
       {finalResult("b", zero, {1, 1}), finalResult("a", zero, {1, 1})},
       {{"b", 0.0, 1000.0}, {"a", 0.0, 1000.0}},
       "b a"},
      {"no final result", {TranscriptionResult{false, "maybe", {}}}, {}, ""},
      {"text beyond ASCII", {finalResult("café", zero, {1, 1})}, {{"café", 0.0, 1000.0}}, "café"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPlatform platform;
    platform.script.results = c.results;
    platform.script.lastSampleTime = MediaTime{44100 * 3, 44100};
    const auto out = AppleSpeechEngine::transcribe(platform, kFile, "en_US", false);
    ASSERT_EQ(out.segments.size(), c.expectedSegments.size());
    for (size_t i = 0; i < out.segments.size(); ++i) {
      EXPECT_EQ(out.segments[i].text, std::get<0>(c.expectedSegments[i]));
      EXPECT_EQ(out.segments[i].t0, std::get<1>(c.expectedSegments[i]));
      EXPECT_EQ(out.segments[i].t1, std::get<2>(c.expectedSegments[i]));
    }
    EXPECT_EQ(out.result, c.expectedResult);
    EXPECT_EQ(out.duration, 3.0);  // even when no segment came
  }
}

}  // namespace
}  // namespace ondevice
