#pragma once
// A speech platform that plays back a script and records every call in order, for checking the
// engine's orderings and failure paths.
//
//   ScriptedPlatform platform;
//   platform.script.status = AssetStatus::supported;
//   AppleSpeechEngine::prepare(platform, "en-US");
//   // platform.calls() == {"locale en-US", "lookup", "transcriber", "status", "request",
//   "download"}

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/api/speech_platform.h"
#include "platform/api/speech_service.h"

namespace ondevice::testing {

struct ScriptedFailure {
  enum class Kind { platformError, undecodableAudio, outOfMemory };
  std::string description;  // the thrown error's description (std::bad_alloc has its own)
  Kind kind = Kind::platformError;
};

// Every member has its default here, so that a test names only what it changes:
//   platform.script = {.status = AssetStatus::supported, .fileExists = false};
struct Script {
  bool available = true;
  // Language string -> identifier of the supported locale; a string not listed has none.
  std::map<std::string, std::string> supported{{"en_US", "en_US"}, {"en-US", "en_US"}};
  platform::AssetStatus status = platform::AssetStatus::installed;
  bool answersWithRequest = true;
  std::optional<ScriptedFailure> requestFailure = {};
  std::optional<ScriptedFailure> downloadFailure = {};
  bool fileExists = true;
  std::optional<ScriptedFailure> openFailure = {};

  std::vector<platform::TranscriptionResult> results = {};  // delivered during the analysis
  std::optional<platform::MediaTime> lastSampleTime = platform::MediaTime{16000, 16000};
  std::optional<ScriptedFailure> analysisFailure = {};  // after delivering the results
  std::optional<ScriptedFailure> finalizeFailure = {};
  std::optional<ScriptedFailure> sequenceFailure = {};  // the results sequence fails at its end
};

class ScriptedPlatform final : public platform::SpeechPlatform, public platform::SpeechService {
 public:
  Script script;

  std::vector<std::string> calls() const;
  // The transcribers made so far, for looking at their configuration.
  std::vector<platform::SpeechTranscriberRef> transcribers() const;

  bool transcriberIsAvailable() override;
  platform::Locale makeLocale(const std::string& identifier) override;
  std::optional<platform::Locale> supportedLocale(const platform::Locale& equivalentTo) override;
  platform::SpeechTranscriberRef makeTranscriber(const platform::Locale& locale,
                                                 platform::TranscriptionOptions transcription,
                                                 platform::ReportingOptions reporting,
                                                 platform::AttributeOptions attributes) override;
  platform::AssetStatus assetStatus(const platform::ModuleList& modules) override;
  std::unique_ptr<platform::AssetInstallationRequest> assetInstallationRequest(
      const platform::ModuleList& modules) override;
  bool fileExists(const std::string& path) override;
  std::unique_ptr<platform::AudioFile> openAudioFile(const std::string& path) override;
  std::unique_ptr<platform::SpeechAnalyzer> makeAnalyzer(
      const platform::ModuleList& modules) override;
  // Records "serve" and the locales asked for; stops at once, idle.
  platform::ServiceSummary serve(const platform::ServiceOptions& options) override;

  void record(std::string call);

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
  std::vector<platform::SpeechTranscriberRef> transcribers_;
};

}  // namespace ondevice::testing
