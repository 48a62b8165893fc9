#include "engine/apple_speech_engine.h"
#include "engine/result_collector.h"
#include "engine/text_trimming.h"
#include "output/helper_error.h"

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
  } catch (...) {
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
