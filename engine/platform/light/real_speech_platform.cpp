#include "engine/platform/light/real_speech_platform.h"

#include <sys/stat.h>

#include "engine/platform/light/asset_store.h"
#include "engine/platform/light/locale_identifier.h"
#include "engine/platform/light/recogniser_watch.h"
#include "engine/platform/light/speech_module_loader.h"
#include "engine/platform/platform_error.h"

namespace ondevice::platform {

const AssetCatalog& RealSpeechPlatform::catalog() {
  if (!catalog_) catalog_ = AssetCatalog::load();
  return *catalog_;
}

const CatalogEntry* RealSpeechPlatform::entryFor(const ModuleList& modules) {
  if (modules.empty()) return nullptr;
  return catalog().find(modules.front()->locale().identifier());
}

bool RealSpeechPlatform::transcriberIsAvailable() { return speechModuleLooksLoadable(); }

Locale RealSpeechPlatform::makeLocale(const std::string& identifier) { return Locale(identifier); }

std::optional<Locale> RealSpeechPlatform::supportedLocale(const Locale& equivalentTo) {
  const auto parts = parseLocaleIdentifier(equivalentTo.identifier());
  if (!parts) return std::nullopt;
  const CatalogEntry* entry = equivalentCatalogEntry(*parts, catalog());
  if (entry == nullptr) return std::nullopt;
  return Locale(entry->identifier);
}

SpeechTranscriberRef RealSpeechPlatform::makeTranscriber(const Locale& locale,
                                                         TranscriptionOptions transcriptionOptions,
                                                         ReportingOptions reportingOptions,
                                                         AttributeOptions attributeOptions) {
  return std::make_shared<SpeechTranscriber>(locale, std::move(transcriptionOptions),
                                             std::move(reportingOptions),
                                             std::move(attributeOptions));
}

AssetStatus RealSpeechPlatform::assetStatus(const ModuleList& modules) {
  const CatalogEntry* entry = entryFor(modules);
  if (entry == nullptr) return AssetStatus::unsupported;
  return AssetStore::fromEnvironment().status(*entry);
}

std::unique_ptr<AssetInstallationRequest> RealSpeechPlatform::assetInstallationRequest(
    const ModuleList& modules) {
  const CatalogEntry* entry = entryFor(modules);
  if (entry == nullptr) {
    throw PlatformError("No assets are known for the requested locale.");
  }
  return AssetStore::fromEnvironment().installationRequest(*entry);
}

bool RealSpeechPlatform::fileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

std::unique_ptr<AudioFile> RealSpeechPlatform::openAudioFile(const std::string& path) {
  return loadSpeechModule().openAudioFile(path);
}

std::unique_ptr<SpeechAnalyzer> RealSpeechPlatform::makeAnalyzer(const ModuleList& modules) {
  if (modules.empty()) throw PlatformError("An analyzer needs a transcriber to drive.");
  AnalyzerModel model;
  try {
    const CatalogEntry* entry = entryFor(modules);
    if (entry != nullptr) model.files = AssetStore::fromEnvironment().installedModel(*entry);
    if (!model.files) {
      model.unavailableReason = "The speech model for " + modules.front()->locale().identifier() +
                                " is not installed; run prepare first.";
    }
  } catch (const std::exception& e) {
    model.unavailableReason = e.what();
  }
  watchRecognition(modules.front()->locale().identifier());
  model.noteStage = &noteRecogniserStage;
  return loadSpeechModule().makeAnalyzer(modules.front(), std::move(model));
}

}  // namespace ondevice::platform
