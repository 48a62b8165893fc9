#pragma once
// The speech engine: resolves languages, answers availability, prepares model assets and
// transcribes files, all against the speech platform it is handed. A namespace of operations
// with no state of its own; each operation releases every platform object it made before it
// returns or throws. Every operation is defined in apple_speech_engine.cpp.
//
//   RealSpeechPlatform platform;
//   auto record = AppleSpeechEngine::transcribe(platform, FileURL::fileURLWithPath("talk.wav"),
//                                               "en_US", /*autoPrepare=*/true);

#include <string>

#include "engine/file_url.h"
#include "output/records.h"
#include "platform/api/speech_platform.h"

namespace ondevice {

class AppleSpeechEngine {
 public:
  AppleSpeechEngine() = delete;

  // The supported locale equivalent to `language`; throws HelperError(unsupportedLocale).
  static platform::Locale supportedLocale(platform::SpeechPlatform& platform,
                                          const std::string& language);
  // Never throws: anything that stands in the way answers available false.
  static AvailabilityOutput isAvailable(platform::SpeechPlatform& platform,
                                        const std::string& language);
  // The one transcriber configuration the tool uses, for prepare and transcribe alike.
  static platform::SpeechTranscriberRef createTranscriber(platform::SpeechPlatform& platform,
                                                          const platform::Locale& locale);
  static PrepareOutput prepare(platform::SpeechPlatform& platform, const std::string& language);
  // The asset check and installation of prepare, for a locale already resolved.
  static void prepareAssets(platform::SpeechPlatform& platform, const platform::Locale& locale,
                            const platform::SpeechTranscriberRef& transcriber);
  static TranscriptionOutput transcribe(platform::SpeechPlatform& platform, const FileURL& fileURL,
                                        const std::string& language, bool autoPrepare);
};

}  // namespace ondevice
