#pragma once
// The result collector: reads a transcriber's results and keeps the final ones that carry text,
// as segments with trimmed text and times in milliseconds.
//
//   ResultCollector collector = ResultCollector::start(transcriber);  // own thread, at once
//   ... run and finish the analysis ...
//   std::vector<Segment> segments = collector.value();  // rethrows the sequence's failure
//
// A collector that is never asked for its value is simply abandoned: its thread stays parked on
// the results sequence until the process ends, and nothing ever waits for it.

#include <future>
#include <vector>

#include "output/records.h"
#include "platform/api/speech_transcriber.h"

namespace ondevice {

// Consumes the whole sequence on the calling thread.
std::vector<Segment> collectResults(const platform::SpeechTranscriberRef& transcriber);

class ResultCollector {
 public:
  static ResultCollector start(platform::SpeechTranscriberRef transcriber);
  // Waits for the sequence to end; call only after the analysis has been finished.
  std::vector<Segment> value();

 private:
  explicit ResultCollector(std::future<std::vector<Segment>> outcome)
      : outcome_(std::move(outcome)) {}
  // From a promise, not std::async: dropping it never waits for the thread.
  std::future<std::vector<Segment>> outcome_;
};

}  // namespace ondevice
