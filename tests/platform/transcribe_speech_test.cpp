// Real speech through the real binary: recognition accuracy on read speech, every common audio
// format, the shape of the record, silence, files that are not audio, the same output with any
// number of decoding threads, and English written as sentences from the same words.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/binary_records.h"
#include "tests/support/case_name.h"
#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tests/support/sanitizer_build.h"
#include "tests/support/speech_test_support.h"

namespace ondevice {
namespace {

namespace fs = std::filesystem;
using ::testing::ContainsRegex;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;
using testing::ProcessOptions;
using testing::ProcessResult;
using testing::runBinary;
using testing::ScratchDirectory;
using ::testing::UnorderedElementsAre;
using testing::speech::Clip;
using testing::speech::ffmpeg;
using testing::speech::readTranscription;
using testing::speech::sox;
using testing::speech::Transcription;
using testing::speech::wordErrors;

Transcription transcribe(const std::string& path, const ProcessOptions& options = {}) {
  const ProcessResult r = runBinary({"transcribe", "--file", path}, options);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const auto record = readTranscription(r.out);
  EXPECT_TRUE(record.has_value()) << r.out;
  return record.value_or(Transcription{});
}

// What every transcription record must look like, whatever was said.
void expectWellFormed(const Transcription& record) {
  EXPECT_EQ(record.language, "en_US");
  EXPECT_FALSE(record.isAborted);
  std::string joined;
  double previousEnd = 0;
  for (const auto& segment : record.segments) {
    SCOPED_TRACE(segment.text);
    ASSERT_FALSE(segment.text.empty());
    EXPECT_FALSE(std::isspace(static_cast<unsigned char>(segment.text.front())));
    EXPECT_FALSE(std::isspace(static_cast<unsigned char>(segment.text.back())));
    EXPECT_THAT(segment.text, Not(HasSubstr("<"))) << "a silence marker in the text";
    EXPECT_THAT(segment.text, Not(HasSubstr("["))) << "a filler in the text";
    EXPECT_THAT(segment.text, Not(HasSubstr("("))) << "a pronunciation variant";
    EXPECT_LE(0.0, segment.t0);
    EXPECT_LT(segment.t0, segment.t1);
    EXPECT_LE(segment.t1, record.duration * 1000.0);
    EXPECT_GE(segment.t0, previousEnd) << "segments go back in time";
    previousEnd = segment.t1;
    joined += (joined.empty() ? "" : " ") + segment.text;
  }
  EXPECT_EQ(record.result, joined);
}

TEST(TranscribeSpeech, LibrivoxWordErrorRate) {
  const auto clips = testing::speech::librivoxClips();
  ASSERT_EQ(clips.size(), 5u);
  size_t errors = 0;
  size_t said = 0;
  for (const Clip& clip : clips) {
    SCOPED_TRACE(clip.path);
    const Transcription record = transcribe(clip.path);
    expectWellFormed(record);
    EXPECT_FALSE(record.segments.empty());
    // The duration is the file's own, to the sample.
    EXPECT_DOUBLE_EQ(record.duration, testing::speech::soxDuration(clip.path));
    const size_t clipErrors = wordErrors(clip.reference, record.result);
    std::cout << fs::path(clip.path).filename().string() << ": " << clipErrors << " errors in "
              << testing::speech::words(clip.reference).size() << " words: " << record.result
              << "\n";
    errors += clipErrors;
    said += testing::speech::words(clip.reference).size();
  }
  std::cout << "word error rate: " << errors << "/" << said << "\n";
  EXPECT_LE(static_cast<double>(errors), 0.40 * static_cast<double>(said));
}

TEST(TranscribeSpeech, EveryCommonFormatGivesTheSameWords) {
  ScratchDirectory scratch;
  const Clip clip = testing::speech::librivoxClips().at(3);  // 6.05 s, 19 words
  const Transcription original = transcribe(clip.path);
  ASSERT_FALSE(original.result.empty());
  const double seconds = testing::speech::soxDuration(clip.path);

  struct Case {
    std::string file;
    std::vector<std::string> codec;
    bool lossless;  // decodes to exactly the samples soxi counts
  };
  const std::vector<Case> cases = {
      {"clip.flac", {"-c:a", "flac"}, true},
      {"clip.mp3", {"-c:a", "libmp3lame", "-b:a", "64k"}, false},
      {"clip.ogg", {"-c:a", "libvorbis", "-q:a", "5"}, false},
      {"clip.opus", {"-c:a", "libopus", "-b:a", "48k"}, false},
      {"clip.m4a", {"-c:a", "aac", "-b:a", "96k"}, false},
      {"stereo-44k.wav", {"-ac", "2", "-ar", "44100", "-c:a", "pcm_s16le"}, true},
      {"float-48k.wav", {"-ar", "48000", "-c:a", "pcm_f32le"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const fs::path converted = scratch.path() / c.file;
    std::vector<std::string> arguments{"-i", clip.path};
    arguments.insert(arguments.end(), c.codec.begin(), c.codec.end());
    arguments.push_back(converted.string());
    ffmpeg(arguments);

    const Transcription record = transcribe(converted.string());
    expectWellFormed(record);
    EXPECT_LE(wordErrors(original.result, record.result), 3u)
        << "original: " << original.result << "\nconverted: " << record.result;
    EXPECT_NEAR(record.duration, seconds, 0.030);
    if (c.lossless) {
      EXPECT_DOUBLE_EQ(record.duration, testing::speech::soxDuration(converted));
    }
  }
}

TEST(TranscribeSpeech, AnyChannelCountIsMixedDown) {
  ScratchDirectory scratch;
  const Clip clip = testing::speech::librivoxClips().at(3);
  const Transcription original = transcribe(clip.path);
  // Counts with a layout FFmpeg mixes (6), without one (9), and past its resampler's limit (65).
  for (const int channels : {6, 9, 65}) {
    SCOPED_TRACE(std::to_string(channels) + " channels");
    const fs::path wav = scratch.path() / ("channels-" + std::to_string(channels) + ".wav");
    std::vector<std::string> arguments{"-R", "-M"};
    for (int i = 0; i < channels; ++i) arguments.push_back(clip.path);
    arguments.push_back(wav.string());
    sox(arguments);
    const Transcription record = transcribe(wav.string());
    expectWellFormed(record);
    EXPECT_LE(wordErrors(original.result, record.result), 3u) << record.result;
    EXPECT_DOUBLE_EQ(record.duration, testing::speech::soxDuration(clip.path));
  }
  // A layout FFmpeg's resampler will not mix (a left channel without its right).
  const fs::path odd = scratch.path() / "left-and-centre.wav";
  ffmpeg({"-i", clip.path, "-af", "channelmap=map=0-FL|0-FC:channel_layout=FL+FC", odd.string()});
  const Transcription record = transcribe(odd.string());
  EXPECT_LE(wordErrors(original.result, record.result), 3u) << record.result;
}

struct Damaged {
  std::string codec;
  std::string extension;
};

class DamagedStretches : public ::testing::TestWithParam<Damaged> {};

TEST_P(DamagedStretches, AreSkippedAndLaterSpeechKeepsItsTime) {
  ScratchDirectory scratch;
  const fs::path joined = scratch.path() / "joined.wav";
  testing::speech::joinClips(testing::speech::librivoxClips(), 0.4, joined);
  const fs::path clean = scratch.path() / ("clean." + GetParam().extension);
  ffmpeg({"-i", joined.string(), "-c:a", GetParam().codec, clean.string()});
  // 4 KiB of 0xFF a third of the way in, where speech is.
  std::string bytes = testing::readText(clean);
  bytes.replace(bytes.size() / 3, 4096, 4096, '\xFF');
  const fs::path damaged = scratch.path() / ("damaged." + GetParam().extension);
  testing::writeText(damaged, bytes);

  const Transcription original = transcribe(clean.string());
  const Transcription record = transcribe(damaged.string());
  expectWellFormed(record);
  EXPECT_DOUBLE_EQ(record.duration, original.duration);
  ASSERT_FALSE(record.segments.empty());
  ASSERT_FALSE(original.segments.empty());
  // The last utterance lies well after the damage: the same words at the same time. (The
  // damage lies in the first 20 s, from which the VTLN probe picks its warp,
  // so one word may come out otherwise.)
  EXPECT_LE(wordErrors(original.segments.back().text, record.segments.back().text), 1u)
      << record.segments.back().text;
  EXPECT_NEAR(record.segments.back().t0, original.segments.back().t0, 20.0);
  EXPECT_NEAR(record.segments.back().t1, original.segments.back().t1, 20.0);
}

INSTANTIATE_TEST_SUITE_P(, DamagedStretches,
                         ::testing::Values(Damaged{"aac", "m4a"}, Damaged{"flac", "flac"}),
                         testing::namedBy<&Damaged::codec>);

// How much of [t0, t1) the segments cover.
double coveredShare(const std::vector<testing::speech::Segment>& segments, double t0, double t1) {
  double covered = 0;
  for (const auto& segment : segments) {
    covered += std::max(0.0, std::min(t1, segment.t1) - std::max(t0, segment.t0));
  }
  return covered / (t1 - t0);
}

TEST(TranscribeSpeech, SpeechInNoiseAndQuietSpeechAreHeardWhole) {
  // Noise at 10 dB under the speech, or a recording 40 dB too quiet: every utterance of the
  // clean recording must still be heard through, not cut into scraps or dropped.
  ScratchDirectory scratch;
  const fs::path joined = scratch.path() / "joined.wav";
  testing::speech::joinClips(testing::speech::librivoxClips(), 0.4, joined);
  std::string said;
  for (const Clip& clip : testing::speech::librivoxClips()) said += clip.reference + " ";
  const Transcription clean = transcribe(joined.string());
  ASSERT_FALSE(clean.segments.empty());

  const fs::path white = scratch.path() / "white.wav";
  const fs::path pink = scratch.path() / "pink.wav";
  const fs::path quiet = scratch.path() / "quiet.wav";
  testing::speech::addNoise(joined, "whitenoise", 10, white);
  testing::speech::addNoise(joined, "pinknoise", 10, pink);
  sox({"-R", joined.string(), quiet.string(), "vol", "-40", "dB"});
  for (const fs::path& degraded : {white, pink, quiet}) {
    SCOPED_TRACE(degraded.filename().string());
    const Transcription record = transcribe(degraded.string());
    expectWellFormed(record);
    for (const auto& utterance : clean.segments) {
      EXPECT_GE(coveredShare(record.segments, utterance.t0, utterance.t1), 0.85)
          << "speech at " << utterance.t0 << " ms to " << utterance.t1 << " ms";
    }
    if (degraded == quiet) {
      EXPECT_LE(wordErrors(said, record.result), 2 * wordErrors(said, clean.result))
          << record.result;
    }
  }
}

TEST(TranscribeSpeech, SilenceAndSteadyNoiseGiveNoSegment) {
  ScratchDirectory scratch;
  const fs::path silence = scratch.path() / "silence.wav";
  sox({"-n", "-r", "16000", "-c", "1", "-b", "16", silence.string(), "trim", "0", "3.5"});
  EXPECT_THAT(runBinary({"transcribe", "--file", silence.string()}),
              testing::Prints("{\"duration\":3.5,\"isAborted\":false,\"language\":\"en_US\","
                              "\"result\":\"\",\"segments\":[]}\n"));

  // A fan or a tape hiss is background, not speech, however loud.
  const fs::path hiss = scratch.path() / "hiss.wav";
  sox({"-R", "-n", "-r", "44100", "-c", "2", "-b", "16", hiss.string(), "synth", "4", "pinknoise",
       "vol", "0.3"});
  const Transcription record = transcribe(hiss.string());
  expectWellFormed(record);
  EXPECT_TRUE(record.segments.empty()) << record.result;
  EXPECT_DOUBLE_EQ(record.duration, 4.0);
}

// Each case makes its file in the scratch directory and answers its path.
struct NotAudio {
  std::string name;
  std::function<fs::path(const fs::path& dir)> make;
};

class FileThatIsNotAudio : public ::testing::TestWithParam<NotAudio> {};

TEST_P(FileThatIsNotAudio, IsInvalid) {
  ScratchDirectory scratch;
  const std::string path = GetParam().make(scratch.path()).string();
  EXPECT_THAT(runBinary({"transcribe", "--file", path}),
              testing::FailsWith("Invalid audio file: " + path));
}

fs::path written(const fs::path& file, const std::string& bytes) {
  testing::writeText(file, bytes);
  return file;
}
fs::path image(const fs::path& dir) {
  ffmpeg(
      {"-f", "lavfi", "-i", "testsrc=size=64x64", "-frames:v", "1", (dir / "image.png").string()});
  return dir / "image.png";
}
std::string clipPath() { return testing::speech::librivoxClips().at(1).path; }

const NotAudio kNotAudio[] = {
    {"folder",
     [](const fs::path& dir) {
       fs::create_directory(dir / "folder.wav");
       return dir / "folder.wav";
     }},
    {"empty", [](const fs::path& dir) { return written(dir / "empty.wav", ""); }},
    {"notes",
     [](const fs::path& dir) {
       return written(dir / "notes.wav", "These are meeting notes, not a recording.\n");
     }},
    {"image", image},
    {"image named wav",
     [](const fs::path& dir) {
       return written(dir / "image.wav", testing::readText(image(dir)).substr(0, 1 << 20));
     }},
    {"wav header cut",
     [](const fs::path& dir) {
       return written(dir / "header-cut.wav", testing::readText(clipPath()).substr(0, 30));
     }},
    {"m4a header cut",
     [](const fs::path& dir) {
       ffmpeg({"-i", clipPath(), "-c:a", "aac", (dir / "whole.m4a").string()});
       return written(dir / "header-cut.m4a", testing::readText(dir / "whole.m4a").substr(0, 200));
     }},
};
INSTANTIATE_TEST_SUITE_P(, FileThatIsNotAudio, ::testing::ValuesIn(kNotAudio),
                         testing::namedBy<&NotAudio::name>);

TEST(TranscribeSpeech, ThreadCountDoesNotChangeTheOutput) {
  ScratchDirectory scratch;
  const auto clips = testing::speech::librivoxClips();
  const fs::path joined16k = scratch.path() / "joined-16k.wav";
  testing::speech::joinClips(clips, 0.8, joined16k);
  // At 8 kHz, so that the samples pass through the resampler too: every run must give the same
  // samples, and with them the same words.
  const fs::path joined = scratch.path() / "joined.wav";
  sox({"-R", joined16k.string(), "-r", "8000", joined.string()});

  std::string reference;
  for (const Clip& clip : clips) reference += clip.reference + " ";

  std::string single;
  for (const std::string threads : {"1", "2", "3"}) {
    SCOPED_TRACE("threads " + threads);
    ProcessOptions options;
    options.environment["ONDEVICE_STT_THREADS"] = threads;
    const ProcessResult r = runBinary({"transcribe", "--file", joined.string()}, options);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    if (single.empty()) {
      single = r.out;
      const auto record = readTranscription(r.out);
      ASSERT_TRUE(record.has_value()) << r.out;
      expectWellFormed(*record);
      // Cut at the pauses between the recordings, at least.
      EXPECT_GE(record->segments.size(), clips.size());
      EXPECT_LE(static_cast<double>(wordErrors(reference, record->result)),
                0.40 * static_cast<double>(testing::speech::words(reference).size()))
          << record->result;
    } else {
      EXPECT_EQ(r.out, single) << "a different output with " << threads << " threads";
    }
  }
}

// Under an address-space limit that holds one decoder but not two, a file long enough for a
// second decoder is transcribed whole by the first: only a first decoder that cannot be made
// fails a run.
TEST(TranscribeSpeech, AFurtherDecoderThatDoesNotFitLeavesTheRunToTheFirst) {
  if (testing::kSanitizerBuild) GTEST_SKIP() << testing::kSanitizerSkipReason;
  ScratchDirectory scratch;
  const fs::path joined = scratch.path() / "joined.wav";
  testing::speech::joinClips(testing::speech::librivoxClips(), 0.4, joined);
  const fs::path thrice = scratch.path() / "thrice.wav";  // 79 s: past a second decoder's 45 s
  sox({joined.string(), joined.string(), joined.string(), thrice.string()});
  ProcessOptions options;
  options.environment["ONDEVICE_STT_THREADS"] = "2";
  options.limits[RLIMIT_AS] = rlim_t{420} << 20;  // one decoder needs about 345 MB, two 460
  const ProcessResult r = runBinary({"transcribe", "--file", thrice.string()}, options);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const auto record = readTranscription(r.out);
  ASSERT_TRUE(record.has_value()) << r.out;
  expectWellFormed(*record);
  ASSERT_FALSE(record->segments.empty());
  EXPECT_GT(record->segments.back().t1, 0.9 * record->duration * 1000.0);
}

// A transcription writes nothing to the store and follows no name in it: a link that a build
// of old left there to another directory leaves that directory as it was, and a store that
// cannot be written transcribes the same.
TEST(TranscribeSpeech, WritesNothingToTheStoreAndFollowsNoLinkInIt) {
  ScratchDirectory scratch;
  const std::string clip = testing::speech::librivoxClips().front().path;
  const auto withStore = [&](const fs::path& store) {
    ProcessOptions options;
    options.environment["ONDEVICE_STT_ASSETS"] = store.string();
    const ProcessResult r = runBinary({"transcribe", "--file", clip}, options);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");
    return r.out;
  };
  const auto names = [](const fs::path& directory) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(directory)) {
      found.push_back(entry.path().filename().string());
    }
    return found;
  };
  const fs::path store = scratch.path() / "store";
  const fs::path elsewhere = scratch.path() / "elsewhere";
  fs::create_directories(store);
  fs::create_directories(elsewhere / "inner");
  testing::writeText(elsewhere / "notes.txt", "mine");
  fs::create_directory_symlink(elsewhere, store / "en_US.derived");
  const std::string first = withStore(store);
  EXPECT_THAT(first, HasSubstr(R"("result":")"));
  EXPECT_THAT(names(elsewhere), UnorderedElementsAre("inner", "notes.txt"));
  EXPECT_THAT(names(store), ElementsAre("en_US.derived"));

  const fs::path readOnly = scratch.path() / "read-only";
  testing::TemporaryMount mount(readOnly, "size=1m", MS_RDONLY);
  if (!mount.mounted()) GTEST_SKIP() << "cannot mount a read-only file system here";
  EXPECT_EQ(withStore(readOnly), first);
  EXPECT_TRUE(fs::is_empty(readOnly));
}

// The words of a text as the recogniser spells them: lower case, without the commas, full stops
// and question marks that end phrases, sentences and titles.
std::vector<std::string> spokenWords(const std::string& text) {
  std::vector<std::string> spoken;
  std::istringstream in(text);
  for (std::string word; in >> word;) {
    if (!word.empty() && word.back() == ',') word.pop_back();
    if (!word.empty() && (word.back() == '.' || word.back() == '?')) word.pop_back();
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    spoken.push_back(word);
  }
  return spoken;
}

TEST(TranscribeSpeech, EnglishReadsAsSentencesMadeOfTheRecognisersWords) {
  ScratchDirectory scratch;
  const fs::path joined = scratch.path() / "joined.wav";
  testing::speech::joinClips(testing::speech::librivoxClips(), 0.8, joined);
  // Another language served by the same model: its text is the recogniser's words as they are.
  const fs::path catalog = scratch.path() / "catalog.json";
  testing::writeText(catalog, std::string(R"({"locales": {"en_US": {"system": ")") +
                                  testing::speech::kModel + R"("}, "xx_XX": {"system": ")" +
                                  testing::speech::kModel + R"("}}})");
  ProcessOptions options;
  options.environment["ONDEVICE_STT_CATALOG"] = catalog.string();
  options.environment["ONDEVICE_STT_ASSETS"] = (scratch.path() / "store").string();

  const Transcription readable = transcribe(joined.string(), options);
  const ProcessResult r =
      runBinary({"transcribe", "--file", joined.string(), "--language", "xx_XX"}, options);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const auto plain = readTranscription(r.out);
  ASSERT_TRUE(plain.has_value()) << r.out;

  expectWellFormed(readable);
  ASSERT_FALSE(plain->result.empty());
  EXPECT_THAT(plain->result, MatchesRegex("[a-z' ]+")) << "the recogniser's own words";
  // Sentences: a capital first and a full stop or a question mark last, and after each end
  // the next sentence opens with a capital.
  EXPECT_THAT(readable.result, MatchesRegex("[A-Z].*[.?]"));
  EXPECT_THAT(readable.result, Not(ContainsRegex("[.?] [a-z]")));
  EXPECT_THAT(readable.result, HasSubstr("Mr. John"));
  // Stripped of case and of the marks added, the text is the recogniser's words, and the
  // segments are the same utterances at the same times.
  EXPECT_THAT(spokenWords(readable.result), ElementsAreArray(spokenWords(plain->result)));
  ASSERT_EQ(readable.segments.size(), plain->segments.size());
  for (size_t i = 0; i < plain->segments.size(); ++i) {
    EXPECT_EQ(readable.segments[i].t0, plain->segments[i].t0);
    EXPECT_EQ(readable.segments[i].t1, plain->segments[i].t1);
    EXPECT_THAT(spokenWords(readable.segments[i].text),
                ElementsAreArray(spokenWords(plain->segments[i].text)));
  }
}

}  // namespace
}  // namespace ondevice
