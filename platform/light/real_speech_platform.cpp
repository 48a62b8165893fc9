#include "platform/light/real_speech_platform.h"

#include <sys/stat.h>

#include "base/regular_file.h"
#include "platform/api/platform_error.h"
#include "platform/contract/asset_store_layout.h"
#include "platform/contract/model_identity.h"
#include "platform/light/asset_store.h"
#include "platform/light/locale_identifier.h"
#include "platform/light/service_client.h"
#include "platform/light/service_transcription.h"
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
  const AssetStore store(settings().storeRoot());
  if (auto installed = store.installedModel(*entry)) {
    installed_.insert_or_assign(entry->identifier, *std::move(installed));
    return AssetStatus::installed;
  }
  return store.status(*entry);
}

std::unique_ptr<AssetInstallationRequest> RealSpeechPlatform::assetInstallationRequest(
    const ModuleList& modules) {
  const CatalogEntry* entry = entryFor(modules);
  if (entry == nullptr) {
    throw PlatformError("No assets are known for the requested locale.");
  }
  installed_.erase(entry->identifier);  // what the request installs is looked for afresh
  auto request = AssetStore(settings().storeRoot()).installationRequest(*entry);
  if (request) settings().requireStoreHome();
  return request;
}

bool RealSpeechPlatform::fileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

std::unique_ptr<AudioFile> RealSpeechPlatform::openAudioFile(const std::string& path) {
  const auto openInProcess = [path] { return loadSpeechModule().openAudioFile(path); };
  const PlatformSettings& configured = settings();
  if (configured.useService && configured.serviceDirectory) {
    // Opened here as the module would open it; a file it would refuse is refused by the
    // module, in-process, in its own words.
    const RegularFile file = RegularFile::open(path.c_str());
    if (file.refusal() == RegularFile::Refusal::none && file.size() > 0) {
      if (auto session = ServiceSession::open(*configured.serviceDirectory, speechModuleBuild(),
                                              file.fd(), path)) {
        return std::make_unique<ServiceAudioFile>(*std::move(session), openInProcess);
      }
    }
  }
  return openInProcess();
}

std::unique_ptr<SpeechAnalyzer> RealSpeechPlatform::makeAnalyzer(const ModuleList& modules) {
  if (modules.empty()) throw PlatformError("An analyzer needs a transcriber to drive.");
  const std::string& locale = modules.front()->locale().identifier();
  AnalyzerModel model;
  try {
    const CatalogEntry* entry = entryFor(modules);
    if (entry != nullptr) {
      // As the asset check of this run found it, or looked for now (without that check).
      const auto found = installed_.find(entry->identifier);
      model.files = found != installed_.end()
                        ? found->second
                        : AssetStore(settings().storeRoot()).installedModel(*entry);
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
  const PlatformSettings& configured = settings();
  if (!configured.useService || !configured.serviceDirectory) {
    return loadSpeechModule().makeAnalyzer(modules.front(), std::move(model));
  }
  // The service is asked for exactly this model, as this run sees its files.
  std::optional<service::AnalyzeRequest> request;
  if (model.files) {
    if (auto identity = modelIdentity(*model.files)) {
      request = service::AnalyzeRequest{locale, model.name, *model.files, *std::move(identity)};
    }
  }
  return std::make_unique<ServiceAnalyzer>(
      modules.front(), std::move(model), std::move(request),
      [transcriber = modules.front()](AnalyzerModel inProcess) {
        return loadSpeechModule().makeAnalyzer(transcriber, std::move(inProcess));
      });
}

ServiceSummary RealSpeechPlatform::serve(const ServiceOptions& options) {
  const PlatformSettings& configured = settings();
  if (!configured.serviceDirectory) {
    throw PlatformError("Cannot serve: XDG_RUNTIME_DIR is not set to an absolute path");
  }
  ServiceJob job;
  job.directory = *configured.serviceDirectory;
  job.build = speechModuleBuild();
  job.idleExit = options.idleExit;
  for (const std::string& locale : options.locales) {
    const CatalogEntry* entry = catalog().find(locale);
    const auto files =
        entry ? AssetStore(configured.storeRoot()).installedModel(*entry) : std::nullopt;
    if (!files) {
      throw PlatformError("Cannot serve: the speech model for " + locale +
                          " is not installed; run prepare first");
    }
    job.preload.push_back(ServiceModel{locale, *files});
  }
  return loadSpeechModule().serve(job);
}

}  // namespace ondevice::platform
