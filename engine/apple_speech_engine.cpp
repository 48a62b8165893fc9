// The engine's operations, in the order a transcription calls them: locale resolution and
// availability, the transcriber configuration, asset preparation and file transcription.

#include "engine/apple_speech_engine.h"

#include "engine/result_collector.h"
#include "output/helper_error.h"
#include "platform/api/platform_error.h"

namespace ondevice {
namespace {

// Each text is trimmed and never empty (the collector sees to it), so the joined text has no
// whitespace at its ends either.
std::string joinTexts(const std::vector<Segment>& segments) {
  std::string joined;
  for (size_t i = 0; i < segments.size(); ++i) {
    if (i > 0) joined.push_back(' ');
    joined += segments[i].text;
  }
  return joined;
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

void AppleSpeechEngine::prepareAssets(platform::SpeechPlatform& platform,
                                      const platform::Locale& locale,
                                      const platform::SpeechTranscriberRef& transcriber) {
  using platform::AssetStatus;
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
}

PrepareOutput AppleSpeechEngine::prepare(platform::SpeechPlatform& platform,
                                         const std::string& language) {
  const platform::Locale locale = supportedLocale(platform, language);
  prepareAssets(platform, locale, createTranscriber(platform, locale));
  return PrepareOutput(true, locale.identifier());
}

TranscriptionOutput AppleSpeechEngine::transcribe(platform::SpeechPlatform& platform,
                                                  const FileURL& fileURL,
                                                  const std::string& language, bool autoPrepare) {
  // The language is resolved once; preparation, the analysis and the record all use the
  // locale it resolved to, and one transcriber serves the asset check and the analysis.
  const platform::Locale locale = supportedLocale(platform, language);
  platform::SpeechTranscriberRef transcriber;
  if (autoPrepare) {
    transcriber = createTranscriber(platform, locale);
    prepareAssets(platform, locale, transcriber);
  }

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

  if (!transcriber) transcriber = createTranscriber(platform, locale);
  const std::unique_ptr<platform::SpeechAnalyzer> analyzer = platform.makeAnalyzer({transcriber});

  // A failure of the analysis or of its finalization passes out before anything is collected.
  const std::optional<platform::MediaTime> lastSampleTime = analyzer->analyzeSequence(*audioFile);
  if (lastSampleTime) {
    analyzer->finalizeAndFinish(*lastSampleTime);
  } else {
    analyzer->cancelAndFinishNow();
  }
  // The results sequence keeps everything delivered, in order, and has ended by now: the
  // collector reads it on this thread.
  std::vector<Segment> segments = collectResults(transcriber);
  std::string result = joinTexts(segments);
  const double duration = lastSampleTime ? lastSampleTime->seconds() : 0.0;
  return TranscriptionOutput(locale.identifier(), std::move(result), std::move(segments), duration,
                             false);
}

}  // namespace ondevice
