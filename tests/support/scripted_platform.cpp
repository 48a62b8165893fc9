#include "tests/support/scripted_platform.h"

#include <chrono>
#include <new>
#include <thread>

#include "platform/api/platform_error.h"

namespace ondevice::testing {
namespace {

using platform::PlatformError;

void raise(const std::optional<ScriptedFailure>& failure) {
  if (!failure) return;
  switch (failure->kind) {
    case ScriptedFailure::Kind::platformError:
      throw PlatformError(failure->description);
    case ScriptedFailure::Kind::undecodableAudio:
      throw platform::UndecodableAudioError(failure->description);
    case ScriptedFailure::Kind::outOfMemory:
      throw std::bad_alloc();
  }
}

// The scripted analyzer never reads its file.
class ScriptedAudioFile final : public platform::AudioFile {
 public:
  bool read(std::vector<int16_t>&) override { return false; }
  std::optional<platform::MediaTime> lastSampleTime() const override { return std::nullopt; }
};

class ScriptedRequest final : public platform::AssetInstallationRequest {
 public:
  explicit ScriptedRequest(ScriptedPlatform& platform) : platform_(platform) {}
  void downloadAndInstall() override {
    platform_.record("download");
    raise(platform_.script.downloadFailure);
  }

 private:
  ScriptedPlatform& platform_;
};

class ScriptedAnalyzer final : public platform::SpeechAnalyzer {
 public:
  ScriptedAnalyzer(ScriptedPlatform& platform, platform::SpeechTranscriberRef transcriber)
      : platform_(platform), transcriber_(std::move(transcriber)) {}

  std::optional<platform::MediaTime> analyzeSequence(platform::AudioFile&) override {
    platform_.record("analyze");
    const auto results = transcriber_->results();
    for (const auto& result : platform_.script.results) results->deliver(result);
    raise(platform_.script.analysisFailure);
    return platform_.script.lastSampleTime;
  }

  void finalizeAndFinish(platform::MediaTime) override {
    platform_.record("finalize");
    raise(platform_.script.finalizeFailure);
    endSequence();
  }

  void cancelAndFinishNow() noexcept override {
    platform_.record("cancel");
    endSequence();
  }

 private:
  void endSequence() {
    const auto results = transcriber_->results();
    if (platform_.script.sequenceFailure) {
      results->fail(
          std::make_exception_ptr(PlatformError(platform_.script.sequenceFailure->description)));
    } else {
      results->finish();
    }
  }

  ScriptedPlatform& platform_;
  platform::SpeechTranscriberRef transcriber_;
};

}  // namespace

void ScriptedPlatform::record(std::string call) {
  std::lock_guard lock(mutex_);
  calls_.push_back(std::move(call));
}

std::vector<std::string> ScriptedPlatform::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<platform::SpeechTranscriberRef> ScriptedPlatform::transcribers() const {
  std::lock_guard lock(mutex_);
  return transcribers_;
}

bool ScriptedPlatform::transcriberIsAvailable() {
  record("isAvailable");
  return script.available;
}

platform::Locale ScriptedPlatform::makeLocale(const std::string& identifier) {
  record("locale " + identifier);
  return platform::Locale(identifier);
}

std::optional<platform::Locale> ScriptedPlatform::supportedLocale(
    const platform::Locale& equivalentTo) {
  record("lookup");
  const auto found = script.supported.find(equivalentTo.identifier());
  if (found == script.supported.end()) return std::nullopt;
  return platform::Locale(found->second);
}

platform::SpeechTranscriberRef ScriptedPlatform::makeTranscriber(
    const platform::Locale& locale, platform::TranscriptionOptions transcription,
    platform::ReportingOptions reporting, platform::AttributeOptions attributes) {
  record("transcriber " + locale.identifier());
  auto transcriber = std::make_shared<platform::SpeechTranscriber>(
      locale, std::move(transcription), std::move(reporting), std::move(attributes));
  std::lock_guard lock(mutex_);
  transcribers_.push_back(transcriber);
  return transcriber;
}

platform::AssetStatus ScriptedPlatform::assetStatus(const platform::ModuleList& modules) {
  record("status " + std::to_string(modules.size()));
  return script.status;
}

std::unique_ptr<platform::AssetInstallationRequest> ScriptedPlatform::assetInstallationRequest(
    const platform::ModuleList& modules) {
  record("request " + std::to_string(modules.size()));
  raise(script.requestFailure);
  if (!script.answersWithRequest) return nullptr;
  return std::make_unique<ScriptedRequest>(*this);
}

bool ScriptedPlatform::fileExists(const std::string& path) {
  record("exists " + path);
  return script.fileExists;
}

std::unique_ptr<platform::AudioFile> ScriptedPlatform::openAudioFile(const std::string& path) {
  record("open " + path);
  raise(script.openFailure);
  return std::make_unique<ScriptedAudioFile>();
}

std::unique_ptr<platform::SpeechAnalyzer> ScriptedPlatform::makeAnalyzer(
    const platform::ModuleList& modules) {
  record("analyzer " + std::to_string(modules.size()));
  return std::make_unique<ScriptedAnalyzer>(*this, modules.at(0));
}

platform::ServiceSummary ScriptedPlatform::serve(const platform::ServiceOptions& options) {
  std::string call = "serve";
  for (const std::string& locale : options.locales) call += " " + locale;
  record(call + " idle " + std::to_string(options.idleExit.count()));
  return platform::ServiceSummary{0, "idle"};
}

}  // namespace ondevice::testing
