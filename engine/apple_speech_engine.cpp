// The engine's operations, in the order a transcription calls them: locale resolution and
// availability, the transcriber configuration, asset preparation and file transcription.

#include "engine/apple_speech_engine.h"

#include "engine/result_collector.h"
#include "engine/text_trimming.h"
#include "output/helper_error.h"
#include "platform/api/platform_error.h"

namespace ondevice {
namespace {

std::string joinTexts(const std::vector<Segment>& segments) {
  std::string joined;
  for (size_t i = 0; i < segments.size(); ++i) {
    if (i > 0) joined.push_back(' ');
    joined += segments[i].text;
  }
  return trimWhitespaceAndNewlines(joined);
}

}  // namespace

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

platform::SpeechTranscriberRef AppleSpeechEngine::createTranscriber(
    platform::SpeechPlatform& platform, const platform::Locale& locale) {
  using platform::SpeechTranscriber;
  const auto preset = SpeechTranscriber::Preset::timeIndexedTranscriptionWithAlternatives();
  platform::ReportingOptions reporting = preset.reportingOptions;
  reporting.erase(platform::ReportingOption::alternativeTranscriptions);
  return platform.makeTranscriber(locale, preset.transcriptionOptions, std::move(reporting),
                                  preset.attributeOptions);
}

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

TranscriptionOutput AppleSpeechEngine::transcribe(platform::SpeechPlatform& platform,
                                                  const FileURL& fileURL,
                                                  const std::string& language, bool autoPrepare) {
  const platform::Locale locale = supportedLocale(platform, language);
  if (autoPrepare) prepare(platform, locale.identifier());

  const std::string& path = fileURL.path();
  if (!platform.fileExists(path)) throw HelperError(HelperError::Case::invalidAudio, path);
  std::unique_ptr<platform::AudioFile> audioFile;
  try {
    audioFile = platform.openAudioFile(path);
  } catch (const platform::UndecodableAudioError&) {
    // Only the file's own fault is invalid audio; a speech module that cannot be loaded or
    // memory running out passes on unchanged.
    throw HelperError(HelperError::Case::invalidAudio, path);
  }

  const platform::SpeechTranscriberRef transcriber = createTranscriber(platform, locale);
  const std::unique_ptr<platform::SpeechAnalyzer> analyzer = platform.makeAnalyzer({transcriber});
  ResultCollector collector = ResultCollector::start(transcriber);

  // A failure of the analysis or of its finalization leaves the collector behind, unwaited.
  const std::optional<platform::MediaTime> lastSampleTime = analyzer->analyzeSequence(*audioFile);
  if (lastSampleTime) {
    analyzer->finalizeAndFinish(*lastSampleTime);
  } else {
    analyzer->cancelAndFinishNow();
  }

  std::vector<Segment> segments = collector.value();
  std::string result = joinTexts(segments);
  const double duration = lastSampleTime ? lastSampleTime->seconds() : 0.0;
  return TranscriptionOutput(locale.identifier(), std::move(result), std::move(segments), duration,
                             false);
}

}  // namespace ondevice
