// The speech module's entry: one instance that the binary finds with dlsym after dlopen. Making
// it sets the module's libraries up, once, on the thread that loaded the module; the download
// libraries are set up before the first install.

#include "base/system_error.h"
#include "platform/api/platform_error.h"
#include "platform/contract/speech_module.h"
#include "platform/module/analysis/analyzer.h"
#include "platform/module/assets/asset_installer.h"
#include "platform/module/audio/audio_file.h"
#include "platform/module/speech_libraries.h"
#include "platform/module/service/speech_service.h"

namespace ondevice::platform {
namespace {

class OnDeviceSpeechModule final : public SpeechModule {
 public:
  OnDeviceSpeechModule() { setUpSpeechLibraries(); }

  std::unique_ptr<AudioFile> openAudioFile(const std::string& path) override {
    return openDecodedAudioFile(path);
  }
  std::unique_ptr<SpeechAnalyzer> makeAnalyzer(SpeechTranscriberRef transcriber,
                                               AnalyzerModel model) override {
    return makeRecognitionAnalyzer(std::move(transcriber), std::move(model));
  }
  ServiceSummary serve(const ServiceJob& job) override {
    try {
      return runSpeechService(job);
    } catch (const SystemFailure& failure) {
      throw PlatformError(failure.what());
    }
  }
  void installAssets(const AssetInstallJob& job) override {
    setUpDownloadLibraries();
    try {
      installLocaleAssets(job);
    } catch (const SystemFailure& failure) {  // a durable write or the lock
      throw PlatformError(failure.what());
    }
  }
};

}  // namespace
}  // namespace ondevice::platform

extern "C" __attribute__((visibility("default"))) ondevice::platform::SpeechModule*
ondevice_stt_speech_module() {
  static ondevice::platform::OnDeviceSpeechModule instance;
  return &instance;
}
