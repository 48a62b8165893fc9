#include "platform/light/real_speech_platform.h"

#include <sys/stat.h>

#include "platform/api/platform_error.h"
#include "platform/contract/asset_store_layout.h"
#include "platform/light/asset_store.h"
#include "platform/light/locale_identifier.h"
#include "platform/light/speech_module_loader.h"

namespace ondevice::platform {

const PlatformSettings& RealSpeechPlatform::settings() {
  if (!settings_) settings_ = PlatformSettings::fromEnvironment();
  return *settings_;
}

const AssetCatalog& RealSpeechPlatform::catalog() {
  if (!catalog_) catalog_ = AssetCatalog::load(settings().catalogFile);
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
  return AssetStore(settings().storeRoot()).status(*entry);
}

std::unique_ptr<AssetInstallationRequest> RealSpeechPlatform::assetInstallationRequest(
    const ModuleList& modules) {
  const CatalogEntry* entry = entryFor(modules);
  if (entry == nullptr) {
    throw PlatformError("No assets are known for the requested locale.");
  }
  auto request = AssetStore(settings().storeRoot()).installationRequest(*entry);
  if (request) settings().requireStoreHome();
  return request;
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
  const std::string& locale = modules.front()->locale().identifier();
  AnalyzerModel model;
  try {
    const CatalogEntry* entry = entryFor(modules);
    if (entry != nullptr) {
      const AssetStore store(settings().storeRoot());
      model.files = store.installedModel(*entry);
    }
    if (!model.files) {
      throw PlatformError("The speech model for " + locale +
                          " is not installed; run prepare first.");
    }
  } catch (...) {
    model.unavailable = std::current_exception();  // thrown by the analysis, where it is expected
  }
  model.name = "the speech model for " + locale;
  model.requestedThreads = settings().decoderThreads;
  model.notes.note = noteActivity_;
  model.notes.loadingModel = "The speech recogniser stopped the run: the speech model for " +
                             locale + " could not be loaded.";
  model.notes.decoding =
      "The speech recogniser stopped the run while decoding the audio with the speech model for " +
      locale + ".";
  return loadSpeechModule().makeAnalyzer(modules.front(), std::move(model));
}

}  // namespace ondevice::platform
