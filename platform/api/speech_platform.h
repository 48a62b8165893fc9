#pragma once
// The boundary between the speech engine and the speech platform. The engine sees only these
// types; the binary hands it the real on-device platform, tests hand it a scripted one.
//
//   RealSpeechPlatform platform;                       //
//   platform/light/real_speech_platform.h if (platform.transcriberIsAvailable()) {
//     auto locale = platform.supportedLocale(platform.makeLocale("en-US"));   // en_US
//   }
//
// Every call that can fail throws PlatformError (or, from tests, whatever the script says);
// openAudioFile throws UndecodableAudioError when the file itself is not decodable audio.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/api/locale.h"
#include "platform/api/media_time.h"
#include "platform/api/platform_error.h"
#include "platform/api/speech_transcriber.h"

namespace ondevice::platform {

enum class AssetStatus : int { unsupported = 0, supported = 1, downloading = 2, installed = 3 };

// An open audio file, ready to be analysed: a stream of 16 kHz mono 16-bit samples. Owned by
// whoever opened it; read by one thread at a time.
class AudioFile {
 public:
  virtual ~AudioFile() = default;
  // Replaces `chunk` with the next samples; false once the file is exhausted. Throws when the
  // audio cannot be read.
  virtual bool read(std::vector<int16_t>& chunk) = 0;
  // The time of the end of the last sample read so far, in the source's own rate; none while
  // there was none. Exact once read() has answered false.
  virtual std::optional<MediaTime> lastSampleTime() const = 0;
};

class AssetInstallationRequest {
 public:
  virtual ~AssetInstallationRequest() = default;
  // Returns once the assets are installed; throws when that fails.
  virtual void downloadAndInstall() = 0;
};

// One analysis session over one audio file, driving the transcribers of its module list.
class SpeechAnalyzer {
 public:
  virtual ~SpeechAnalyzer() = default;  // never waits for a consumer of the results
  // Analyses the whole file; answers the time of its last sample, or none when it had none.
  virtual std::optional<MediaTime> analyzeSequence(AudioFile& file) = 0;
  // Delivers every result up to `through`, then ends the results sequences.
  virtual void finalizeAndFinish(MediaTime through) = 0;
  // Ends the results sequences at once; cannot fail.
  virtual void cancelAndFinishNow() noexcept = 0;
};

class SpeechPlatform {
 public:
  virtual ~SpeechPlatform() = default;

  // Whether recognition can run on this machine at all.
  virtual bool transcriberIsAvailable() = 0;
  // Any string makes a locale; only a supported equivalent is of use.
  virtual Locale makeLocale(const std::string& identifier) = 0;
  virtual std::optional<Locale> supportedLocale(const Locale& equivalentTo) = 0;

  virtual SpeechTranscriberRef makeTranscriber(const Locale& locale,
                                               TranscriptionOptions transcriptionOptions,
                                               ReportingOptions reportingOptions,
                                               AttributeOptions attributeOptions) = 0;

  virtual AssetStatus assetStatus(const ModuleList& modules) = 0;
  // None when nothing needs installing (any more).
  virtual std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(
      const ModuleList& modules) = 0;

  virtual bool fileExists(const std::string& path) = 0;
  // Throws UndecodableAudioError when the file is missing, not a regular file, unreadable or
  // holds no decodable audio; any other failure (the speech module cannot be loaded, memory
  // runs out) is thrown as it is.
  virtual std::unique_ptr<AudioFile> openAudioFile(const std::string& path) = 0;
  virtual std::unique_ptr<SpeechAnalyzer> makeAnalyzer(const ModuleList& modules) = 0;
};

}  // namespace ondevice::platform
