#pragma once
// The transcriber module: a locale, its three option sets, and the sequence of results that an
// analyzer driving it delivers. One transcriber is shared by reference between the analyzer that
// drives it and the collector that reads its results.

#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "platform/api/locale.h"
#include "platform/api/results_sequence.h"

namespace ondevice::platform {

enum class TranscriptionOption { etiquetteReplacements };
enum class ReportingOption { volatileResults, alternativeTranscriptions, frequentFinalization };
enum class AttributeOption { audioTimeRange, transcriptionConfidence };

using TranscriptionOptions = std::set<TranscriptionOption>;
using ReportingOptions = std::set<ReportingOption>;
using AttributeOptions = std::set<AttributeOption>;

class SpeechTranscriber {
 public:
  struct Preset {
    TranscriptionOptions transcriptionOptions;
    ReportingOptions reportingOptions;
    AttributeOptions attributeOptions;

    // Word-timed transcription with alternatives offered for each result.
    static Preset timeIndexedTranscriptionWithAlternatives() {
      return Preset{
          {}, {ReportingOption::alternativeTranscriptions}, {AttributeOption::audioTimeRange}};
    }
  };

  SpeechTranscriber(Locale locale, TranscriptionOptions transcriptionOptions,
                    ReportingOptions reportingOptions, AttributeOptions attributeOptions)
      : locale_(std::move(locale)),
        transcriptionOptions_(std::move(transcriptionOptions)),
        reportingOptions_(std::move(reportingOptions)),
        attributeOptions_(std::move(attributeOptions)),
        results_(std::make_shared<ResultsSequence>()) {}

  const Locale& locale() const { return locale_; }
  const TranscriptionOptions& transcriptionOptions() const { return transcriptionOptions_; }
  const ReportingOptions& reportingOptions() const { return reportingOptions_; }
  const AttributeOptions& attributeOptions() const { return attributeOptions_; }

  // The results of the analysis this transcriber takes part in. Shared so that a consumer can
  // keep reading it after everyone else has let go of the transcriber.
  std::shared_ptr<ResultsSequence> results() const { return results_; }

 private:
  Locale locale_;
  TranscriptionOptions transcriptionOptions_;
  ReportingOptions reportingOptions_;
  AttributeOptions attributeOptions_;
  std::shared_ptr<ResultsSequence> results_;
};

using SpeechTranscriberRef = std::shared_ptr<SpeechTranscriber>;
using ModuleList = std::vector<SpeechTranscriberRef>;

}  // namespace ondevice::platform
