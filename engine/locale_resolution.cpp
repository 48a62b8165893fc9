#include "engine/apple_speech_engine.h"
#include "output/helper_error.h"

namespace ondevice {

platform::Locale AppleSpeechEngine::supportedLocale(platform::SpeechPlatform& platform,
                                                    const std::string& language) {
  const platform::Locale requested = platform.makeLocale(language);
  std::optional<platform::Locale> supported = platform.supportedLocale(requested);
  if (!supported) throw HelperError(HelperError::Case::unsupportedLocale, language);
  return *std::move(supported);
}

AvailabilityOutput AppleSpeechEngine::isAvailable(platform::SpeechPlatform& platform,
                                                  const std::string& language) {
  if (!platform.transcriberIsAvailable()) return AvailabilityOutput(false, language);
  try {
    const platform::Locale locale = supportedLocale(platform, language);
    return AvailabilityOutput(true, locale.identifier());
  } catch (...) {
    return AvailabilityOutput(false, language);
  }
}

}  // namespace ondevice
