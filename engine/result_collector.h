#pragma once
// The result collector: reads a transcriber's results and keeps the final ones that carry text,
// as segments with trimmed text and times in milliseconds.
//
//   ... run and finish the analysis: its results sequence keeps every result, in order ...
//   std::vector<Segment> segments = collectResults(transcriber);  // rethrows its failure

#include <vector>

#include "output/records.h"
#include "platform/api/speech_transcriber.h"

namespace ondevice {

// Consumes the whole sequence on the calling thread: call it once the analysis has been
// finished, which ends the sequence.
std::vector<Segment> collectResults(const platform::SpeechTranscriberRef& transcriber);

}  // namespace ondevice
