#include "engine/apple_speech_engine.h"
#include "output/helper_error.h"

namespace ondevice {

PrepareOutput AppleSpeechEngine::prepare(platform::SpeechPlatform& platform,
                                         const std::string& language) {
  using platform::AssetStatus;
  const platform::Locale locale = supportedLocale(platform, language);
  const platform::SpeechTranscriberRef transcriber = createTranscriber(platform, locale);

  switch (platform.assetStatus({transcriber})) {
    case AssetStatus::unsupported:
      throw HelperError(HelperError::Case::assetUnsupported, locale.identifier());
    case AssetStatus::supported:
    case AssetStatus::downloading:
      // Assets on their way from another process are waited for the same way: through a
      // request of our own.
      if (auto request = platform.assetInstallationRequest({transcriber})) {
        request->downloadAndInstall();
      }
      break;
    case AssetStatus::installed:
      break;
    default:
      throw HelperError(HelperError::Case::unknownAssetStatus);
  }
  return PrepareOutput(true, locale.identifier());
}

}  // namespace ondevice
