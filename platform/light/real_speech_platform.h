#pragma once
// The on-device speech platform the binary runs on: locales and assets from the catalog and the
// store, audio and recognition from the speech module, which is loaded only when a command first
// needs it.
//
//   RealSpeechPlatform platform(&noteActivity);   // output/run_end.h

#include <map>
#include <optional>
#include <string>

#include "platform/api/speech_platform.h"
#include "platform/api/speech_service.h"
#include "platform/contract/speech_module.h"
#include "platform/light/asset_catalog.h"
#include "platform/light/settings.h"

namespace ondevice::platform {

class RealSpeechPlatform final : public SpeechPlatform, public SpeechService {
 public:
  // `noteActivity`: where recogniser threads note what they are doing, for the record of a run
  // the recogniser ends itself; none to note nothing.
  explicit RealSpeechPlatform(ActivityNote noteActivity = nullptr) : noteActivity_(noteActivity) {}

  bool transcriberIsAvailable() override;
  Locale makeLocale(const std::string& identifier) override;
  std::optional<Locale> supportedLocale(const Locale& equivalentTo) override;
  SpeechTranscriberRef makeTranscriber(const Locale& locale,
                                       TranscriptionOptions transcriptionOptions,
                                       ReportingOptions reportingOptions,
                                       AttributeOptions attributeOptions) override;
  AssetStatus assetStatus(const ModuleList& modules) override;
  std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(
      const ModuleList& modules) override;
  bool fileExists(const std::string& path) override;
  std::unique_ptr<AudioFile> openAudioFile(const std::string& path) override;
  std::unique_ptr<SpeechAnalyzer> makeAnalyzer(const ModuleList& modules) override;
  ServiceSummary serve(const ServiceOptions& options) override;

 private:
  // Read on first use, then kept for the run: every operation of one run sees the same settings
  // and the same catalog.
  const PlatformSettings& settings();
  const AssetCatalog& catalog();
  const CatalogEntry* entryFor(const ModuleList& modules);

  ActivityNote noteActivity_;
  std::optional<PlatformSettings> settings_;
  std::optional<AssetCatalog> catalog_;
  // The installed model each locale's asset check found in this run, by identifier.
  std::map<std::string, ModelFiles> installed_;
};

}  // namespace ondevice::platform
