#pragma once
// The records the tool writes: one per command result, and the error record. Plain values whose
// field names are their JSON keys. Each record lists its members once, in the order they are
// written (ascending key order), through encode(); the JSON writer does the rest.
//
//   writeJSON(VersionOutput("SpeechAnalyzer", "26.0"));
//   // {"backend":"SpeechAnalyzer","minimumMacOS":"26.0"}

#include <string>
#include <utility>
#include <vector>

namespace ondevice {

struct Segment {
  Segment(std::string text, double t0, double t1) : text(std::move(text)), t0(t0), t1(t1) {}

  std::string text;
  double t0;  // start, milliseconds
  double t1;  // end, milliseconds

  template <typename Members>
  void encode(Members& m) const {
    m.member("t0", t0);
    m.member("t1", t1);
    m.member("text", text);
  }
};

struct TranscriptionOutput {
  TranscriptionOutput(std::string language, std::string result, std::vector<Segment> segments,
                      double duration, bool isAborted)
      : language(std::move(language)),
        result(std::move(result)),
        segments(std::move(segments)),
        duration(duration),
        isAborted(isAborted) {}

  std::string language;
  std::string result;
  std::vector<Segment> segments;
  double duration;  // seconds
  bool isAborted;

  template <typename Members>
  void encode(Members& m) const {
    m.member("duration", duration);
    m.member("isAborted", isAborted);
    m.member("language", language);
    m.member("result", result);
    m.member("segments", segments);
  }
};

struct AvailabilityOutput {
  AvailabilityOutput(bool available, std::string language)
      : available(available), language(std::move(language)) {}

  bool available;
  std::string language;

  template <typename Members>
  void encode(Members& m) const {
    m.member("available", available);
    m.member("language", language);
  }
};

struct PrepareOutput {
  PrepareOutput(bool prepared, std::string language)
      : prepared(prepared), language(std::move(language)) {}

  bool prepared;
  std::string language;

  template <typename Members>
  void encode(Members& m) const {
    m.member("language", language);
    m.member("prepared", prepared);
  }
};

struct VersionOutput {
  VersionOutput(std::string backend, std::string minimumMacOS)
      : backend(std::move(backend)), minimumMacOS(std::move(minimumMacOS)) {}

  std::string backend;
  std::string minimumMacOS;

  template <typename Members>
  void encode(Members& m) const {
    m.member("backend", backend);
    m.member("minimumMacOS", minimumMacOS);
  }
};

// The end of `serve`: how many transcriptions it answered, and why it stopped ("idle" or
// "signal").
struct ServeOutput {
  ServeOutput(double requests, std::string stopped)
      : requests(requests), stopped(std::move(stopped)) {}

  double requests;
  std::string stopped;

  template <typename Members>
  void encode(Members& m) const {
    m.member("requests", requests);
    m.member("stopped", stopped);
  }
};

struct ErrorOutput {
  explicit ErrorOutput(std::string error) : error(std::move(error)) {}

  std::string error;

  template <typename Members>
  void encode(Members& m) const {
    m.member("error", error);
  }
};

}  // namespace ondevice
