#pragma once
// Helpers of the speech tests: the LibriVox recordings of pocketsphinx-testdata with their
// reference texts, word error counting, audio made at test time with ffmpeg and sox, and the
// transcription record read back from the binary's standard output.
//
//   auto clips = librivoxClips();
//   sox({"-R", clips[0].path, "-r", "8000", "narrowband.wav"});
//   auto record = readTranscription(runBinary({"transcribe", "--file", clips[0].path}).out);
//   size_t errors = wordErrors(clips[0].reference, record->result);

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ondevice::testing::speech {

inline constexpr const char* kLibrivox = "/usr/share/pocketsphinx/test/data/librivox";
inline constexpr const char* kModel = "/usr/share/pocketsphinx/model/en-us";

struct Clip {
  std::string path;       // a 16 kHz mono WAV
  std::string reference;  // what is said, lower case
};

// The five recordings, in the order of their names.
std::vector<Clip> librivoxClips();

// Lower-case words, punctuation other than apostrophes dropped.
std::vector<std::string> words(std::string_view text);
// Word-level edit distance between what was said and what was recognised.
size_t wordErrors(std::string_view reference, std::string_view hypothesis);

struct Segment {
  double t0 = 0;  // milliseconds
  double t1 = 0;
  std::string text;
};

struct Transcription {
  std::string language;
  std::string result;
  double duration = 0;  // seconds
  bool isAborted = true;
  std::vector<Segment> segments;
};

// The record of a successful transcribe run; none when `out` is not one.
std::optional<Transcription> readTranscription(const std::string& out);

// The en-us model as `dir` holding links to each of its files (its acoustic directory a real
// one), so that a test can put something else in place of one part without copying the rest.
// Answers `dir`.
std::filesystem::path linkSystemModel(const std::filesystem::path& dir);

// ffmpeg -nostdin -v error -y `arguments`, and sox `arguments`; both throw std::runtime_error
// with the tool's own words when it fails.
void ffmpeg(const std::vector<std::string>& arguments);
void sox(const std::vector<std::string>& arguments);
// `clips` joined with `pause` seconds of silence between them, into `out` (16 kHz mono WAV).
void joinClips(const std::vector<Clip>& clips, double pause, const std::filesystem::path& out);
// Samples over rate, and the samples per channel, as soxi reads the file's header.
double soxDuration(const std::filesystem::path& file);
int64_t soxSamples(const std::filesystem::path& file);
// `speech` with sox's `noise` ("whitenoise", "pinknoise", the same every run) mixed in, `snrDb`
// under the speech's RMS level, into `out`.
void addNoise(const std::filesystem::path& speech, const std::string& noise, double snrDb,
              const std::filesystem::path& out);

}  // namespace ondevice::testing::speech
