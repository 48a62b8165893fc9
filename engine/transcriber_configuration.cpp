#include "engine/apple_speech_engine.h"

namespace ondevice {

platform::SpeechTranscriberRef AppleSpeechEngine::createTranscriber(
    platform::SpeechPlatform& platform, const platform::Locale& locale) {
  using platform::SpeechTranscriber;
  const auto preset = SpeechTranscriber::Preset::timeIndexedTranscriptionWithAlternatives();
  platform::ReportingOptions reporting = preset.reportingOptions;
  reporting.erase(platform::ReportingOption::alternativeTranscriptions);
  return platform.makeTranscriber(locale, preset.transcriptionOptions, std::move(reporting),
                                  preset.attributeOptions);
}

}  // namespace ondevice
