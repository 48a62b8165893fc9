// Real speech through the real binary: recognition accuracy on read speech, every common audio
// format, the shape of the record, silence, files that are not audio, and the same output with
// any number of decoding threads.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/asset_test_support.h"
#include "tests/support/json_check.h"
#include "tests/support/process.h"
#include "tests/support/speech_test_support.h"

namespace ondevice {
namespace {

namespace fs = std::filesystem;
using testing::ProcessOptions;
using testing::ProcessResult;
using testing::runBinary;
using testing::assets::ScratchDirectory;
using testing::speech::Clip;
using testing::speech::makeAudio;
using testing::speech::readTranscription;
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
    EXPECT_EQ(segment.text.find('<'), std::string::npos) << "a silence marker in the text";
    EXPECT_EQ(segment.text.find('['), std::string::npos) << "a filler in the text";
    EXPECT_EQ(segment.text.find('('), std::string::npos) << "a pronunciation variant";
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
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", clip.path};
    argv.insert(argv.end(), c.codec.begin(), c.codec.end());
    argv.push_back(converted.string());
    makeAudio(argv);
    if (::testing::Test::HasFatalFailure()) return;

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
    std::vector<std::string> argv{"sox", "-R", "-M"};
    for (int i = 0; i < channels; ++i) argv.push_back(clip.path);
    argv.push_back(wav.string());
    makeAudio(argv);
    if (::testing::Test::HasFatalFailure()) return;
    const Transcription record = transcribe(wav.string());
    expectWellFormed(record);
    EXPECT_LE(wordErrors(original.result, record.result), 3u) << record.result;
    EXPECT_DOUBLE_EQ(record.duration, testing::speech::soxDuration(clip.path));
  }
  // A layout FFmpeg's resampler will not mix (a left channel without its right).
  const fs::path odd = scratch.path() / "left-and-centre.wav";
  makeAudio({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", clip.path, "-af",
             "channelmap=map=0-FL|0-FC:channel_layout=FL+FC", odd.string()});
  if (::testing::Test::HasFatalFailure()) return;
  const Transcription record = transcribe(odd.string());
  EXPECT_LE(wordErrors(original.result, record.result), 3u) << record.result;
}

TEST(TranscribeSpeech, DamagedStretchesAreSkippedAndLaterSpeechKeepsItsTime) {
  ScratchDirectory scratch;
  const fs::path joined = scratch.path() / "joined.wav";
  testing::speech::joinClips(testing::speech::librivoxClips(), 0.4, joined);
  for (const std::string codec : {"aac", "flac"}) {
    SCOPED_TRACE(codec);
    const fs::path clean =
        scratch.path() / ("clean." + std::string(codec == "aac" ? "m4a" : codec));
    makeAudio({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", joined.string(), "-c:a", codec,
               clean.string()});
    if (::testing::Test::HasFatalFailure()) return;
    // 4 KiB of 0xFF a third of the way in, where speech is.
    std::string bytes;
    {
      std::ifstream in(clean, std::ios::binary);
      bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    const fs::path damaged = scratch.path() / ("damaged" + clean.extension().string());
    bytes.replace(bytes.size() / 3, 4096, 4096, '\xFF');
    std::ofstream(damaged, std::ios::binary) << bytes;

    const Transcription original = transcribe(clean.string());
    const Transcription record = transcribe(damaged.string());
    expectWellFormed(record);
    EXPECT_DOUBLE_EQ(record.duration, original.duration);
    ASSERT_FALSE(record.segments.empty());
    ASSERT_FALSE(original.segments.empty());
    // The last utterance lies well after the damage: the same words at the same time. (The
    // damage lies in the first 20 s, from which the recogniser picks its reading of the voice,
    // so one word may come out otherwise.)
    EXPECT_LE(wordErrors(original.segments.back().text, record.segments.back().text), 1u)
        << record.segments.back().text;
    EXPECT_NEAR(record.segments.back().t0, original.segments.back().t0, 20.0);
    EXPECT_NEAR(record.segments.back().t1, original.segments.back().t1, 20.0);
  }
}

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
  makeAudio({"sox", "-R", joined.string(), quiet.string(), "vol", "-40", "dB"});
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
  makeAudio(
      {"sox", "-n", "-r", "16000", "-c", "1", "-b", "16", silence.string(), "trim", "0", "3.5"});
  const ProcessResult r = runBinary({"transcribe", "--file", silence.string()});
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.out,
            "{\"duration\":3.5,\"isAborted\":false,\"language\":\"en_US\",\"result\":\"\","
            "\"segments\":[]}\n");
  EXPECT_EQ(r.err, "");

  // A fan or a tape hiss is background, not speech, however loud.
  const fs::path hiss = scratch.path() / "hiss.wav";
  makeAudio({"sox", "-R", "-n", "-r", "44100", "-c", "2", "-b", "16", hiss.string(), "synth", "4",
             "pinknoise", "vol", "0.3"});
  const Transcription record = transcribe(hiss.string());
  expectWellFormed(record);
  EXPECT_TRUE(record.segments.empty()) << record.result;
  EXPECT_DOUBLE_EQ(record.duration, 4.0);
}

TEST(TranscribeSpeech, FilesThatAreNotAudioAreInvalid) {
  ScratchDirectory scratch;
  const fs::path dir = scratch.path();
  const Clip clip = testing::speech::librivoxClips().at(1);
  makeAudio({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=64x64",
             "-frames:v", "1", (dir / "image.png").string()});
  makeAudio({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", clip.path, "-c:a", "aac",
             (dir / "whole.m4a").string()});
  const auto write = [&](const std::string& name, const std::string& bytes) {
    testing::assets::writeText(dir / name, bytes);
    return (dir / name).string();
  };
  const auto head = [](const fs::path& file, size_t bytes) {
    std::string content(bytes, '\0');
    FILE* in = std::fopen(file.c_str(), "rb");
    content.resize(in != nullptr ? std::fread(content.data(), 1, bytes, in) : 0);
    if (in != nullptr) std::fclose(in);
    return content;
  };
  fs::create_directory(dir / "folder.wav");

  const std::vector<std::string> paths = {
      (dir / "folder.wav").string(),
      write("empty.wav", ""),
      write("notes.wav", "These are meeting notes, not a recording.\n"),
      (dir / "image.png").string(),
      write("image.wav", head(dir / "image.png", 1 << 20)),
      write("header-cut.wav", head(clip.path, 30)),
      write("header-cut.m4a", head(dir / "whole.m4a", 200)),
  };
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    const ProcessResult r = runBinary({"transcribe", "--file", path});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "");
    const auto error = testing::parseJson(r.err.substr(0, r.err.find('\n')), true);
    ASSERT_TRUE(error.value.has_value()) << r.err;
    ASSERT_TRUE(error.value && error.value->contains("error")) << r.err;
    EXPECT_EQ(error.value->at("error"), "Invalid audio file: " + path);
  }
}

TEST(TranscribeSpeech, ThreadCountDoesNotChangeTheOutput) {
  ScratchDirectory scratch;
  const auto clips = testing::speech::librivoxClips();
  const fs::path joined16k = scratch.path() / "joined-16k.wav";
  testing::speech::joinClips(clips, 0.8, joined16k);
  // At 8 kHz, so that the samples pass through the resampler too: every run must give the same
  // samples, and with them the same words.
  const fs::path joined = scratch.path() / "joined.wav";
  makeAudio({"sox", "-R", joined16k.string(), "-r", "8000", joined.string()});
  if (::testing::Test::HasFatalFailure()) return;

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

}  // namespace
}  // namespace ondevice
