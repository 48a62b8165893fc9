#include "engine/result_collector.h"

#include <thread>

#include "base/stacks.h"
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

ResultCollector ResultCollector::start(platform::SpeechTranscriberRef transcriber) {
  std::promise<std::vector<Segment>> promise;
  ResultCollector collector(promise.get_future());
  std::thread([transcriber = std::move(transcriber), promise = std::move(promise)]() mutable {
    const AlternateSignalStack signalStack;  // for the exit guard's fault handler
    try {
      promise.set_value(collectResults(transcriber));
    } catch (...) {
      promise.set_exception(std::current_exception());
    }
  }).detach();
  return collector;
}

std::vector<Segment> ResultCollector::value() { return outcome_.get(); }

}  // namespace ondevice
