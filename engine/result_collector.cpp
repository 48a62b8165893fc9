#include "engine/result_collector.h"

#include "engine/text_trimming.h"

namespace ondevice {

std::vector<Segment> collectResults(const platform::SpeechTranscriberRef& transcriber) {
  const std::shared_ptr<platform::ResultsSequence> results = transcriber->results();
  std::vector<Segment> segments;
  while (std::optional<platform::TranscriptionResult> result = results->next()) {
    if (!result->isFinal) continue;
    std::string text = trimWhitespaceAndNewlines(result->text);
    if (text.empty()) continue;
    const double t0 = result->range.start.seconds() * 1000.0;
    const double t1 = result->range.end().seconds() * 1000.0;
    segments.emplace_back(std::move(text), t0, t1);
  }
  return segments;
}

}  // namespace ondevice
