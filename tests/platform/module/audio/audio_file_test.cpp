// Audio files read as the recogniser's stream: whatever the file says (a gap of minutes in its
// timeline, a rate far below the recogniser's, audio that never ends), a read hands out a
// bounded piece, and an input that goes on past its bounds is refused instead of read forever.

#include "platform/module/audio/audio_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/api/platform_error.h"
#include "tests/support/case_name.h"
#include "tests/support/files.h"
#include "tests/support/speech_test_support.h"

namespace ondevice {
namespace {

namespace fs = std::filesystem;
using platform::AudioLengthBounds;
using platform::kMostSamplesPerRead;
using testing::ScratchDirectory;
using testing::speech::ffmpeg;

std::string little(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return out;
}

// A VGM file whose loop points back at a wait: FFmpeg's game-music demuxer plays a tone forever.
std::string loopingVgm() {
  const std::string tone = "\x50\x8E\x50\x0F\x50\x90";  // chip writes: pitch, full volume
  const std::string loop = "\x62\x66";                  // wait 1/60 s; end, so back to the loop
  std::string header = "Vgm " + little(0x40 + tone.size() + loop.size() - 4, 4) + little(0x101, 4) +
                       little(3579545, 4) + std::string(8, '\0') + little(735, 4) +
                       little(0x40 + tone.size() - 0x1C, 4) + little(735, 4);
  header.resize(0x40, '\0');
  return header + tone + loop;
}

// A 16 kHz, 16-bit mono WAV whose data chunk states `statedSeconds` and which holds
// `seconds` of a tone, then `after`.
std::string wavStating(int statedSeconds, int seconds, const std::string& after = "") {
  std::string samples;
  for (int i = 0; i < 16000 * seconds; ++i) {
    samples += little(static_cast<uint16_t>(static_cast<int16_t>(i % 64 * 200 - 6400)), 2);
  }
  const std::string fmt = little(1, 2) + little(1, 2) + little(16000, 4) + little(32000, 4) +
                          little(2, 2) + little(16, 2);
  const std::string body = "WAVEfmt " + little(fmt.size(), 4) + fmt + "data" +
                           little(32000 * statedSeconds, 4) + samples + after;
  return "RIFF" + little(body.size(), 4) + body;
}

fs::path writeWav(const fs::path& dir, const std::string& bytes) {
  testing::writeText(dir / "recording.wav", bytes);
  return dir / "recording.wav";
}

// `seconds` of a tone as FLAC whose header states `statedSeconds` (FFmpeg reads its frames
// to the end all the same).
fs::path flacStating(const fs::path& dir, int seconds, int statedSeconds) {
  const fs::path path = dir / "stating.flac";
  ffmpeg({"-f", "lavfi", "-i",
          "sine=frequency=300:sample_rate=16000:duration=" + std::to_string(seconds),
          path.string()});
  std::string bytes = testing::readText(path);
  // STREAMINFO follows "fLaC" and its block header; its total sample count is the low 36 bits
  // of the 8 bytes from offset 18, big-endian.
  uint64_t packed = 0;
  for (int i = 0; i < 8; ++i) packed = packed << 8 | static_cast<uint8_t>(bytes[18 + i]);
  packed = (packed & ~((uint64_t{1} << 36) - 1)) | (uint64_t{16000} * statedSeconds);
  for (int i = 7; i >= 0; --i, packed >>= 8) bytes[18 + i] = static_cast<char>(packed & 0xFF);
  testing::writeText(path, bytes);
  return path;
}

struct Reading {
  std::string name;
  std::function<fs::path(const fs::path&)> make;  // writes the file into the directory given
  AudioLengthBounds bounds = {};
  std::optional<double> seconds = {};  // the file's length, when it reads whole
  std::string refusal = {};            // otherwise, what the refusal says
};

class AudioFileRead : public ::testing::TestWithParam<Reading> {};

TEST_P(AudioFileRead, HandsOutBoundedPiecesAndEnds) {
  ScratchDirectory scratch;
  const fs::path path = GetParam().make(scratch.path());
  const auto file = platform::openDecodedAudioFile(path.string(), GetParam().bounds);
  std::vector<int16_t> chunk;
  int64_t samples = 0;
  size_t largest = 0;
  std::string refusal;
  try {
    while (file->read(chunk)) {
      samples += static_cast<int64_t>(chunk.size());
      largest = std::max(largest, chunk.size());
    }
  } catch (const platform::PlatformError& error) {
    refusal = error.what();
  }
  EXPECT_LE(largest, static_cast<size_t>(kMostSamplesPerRead));
  if (GetParam().seconds) {
    EXPECT_EQ(refusal, "");
    ASSERT_TRUE(file->lastSampleTime());
    EXPECT_NEAR(file->lastSampleTime()->seconds(), *GetParam().seconds, 0.1);
    EXPECT_NEAR(static_cast<double>(samples) / 16000, *GetParam().seconds, 0.1);
  } else {
    EXPECT_EQ(refusal, "Cannot read " + path.string() + ": " + GetParam().refusal);
    EXPECT_LE(samples, GetParam().bounds.longestSeconds * 16000);
  }
}

const Reading kReadings[] = {
    // The gap was one buffer of silence, handed out whole and erased from the front.
    {"ten minutes of gap in an MP4",
     [](const fs::path& dir) {
       ffmpeg({"-f", "lavfi", "-i", "sine=frequency=300:sample_rate=16000:duration=1", "-af",
               "asetpts='if(gte(N,8000),PTS+600/TB,PTS)'", "-c:a", "aac",
               (dir / "gap.mp4").string()});
       return dir / "gap.mp4";
     },
     {},
     601.0},
    // Each packet of 2048 samples became 32 768 of the recogniser's in one piece.
    {"the lowest rate, 1 kHz",
     [](const fs::path& dir) {
       ffmpeg({"-f", "lavfi", "-i", "sine=frequency=100:sample_rate=1000:duration=10",
               (dir / "low.wav").string()});
       return dir / "low.wav";
     },
     {},
     10.0},
    {"longer than a file may be",
     [](const fs::path& dir) {
       ffmpeg({"-f", "lavfi", "-i", "sine=frequency=300:sample_rate=16000:duration=8",
               (dir / "long.wav").string()});
       return dir / "long.wav";
     },
     {.longestSeconds = 5},
     {},
     "its audio goes on past 5 s, the most one file may hold"},
    // A recorder that died before its last header update: the data chunk states 1 s, and 6 s
    // of samples follow its header with no chunk after them. The stated length is no bound.
    {"samples past the length a WAV's data chunk states",
     [](const fs::path& dir) { return writeWav(dir, wavStating(1, 6)); },
     {.statedLengthMarginSeconds = 0},
     6.0},
    // Half a second's worth of chunk after the data: read as samples, it would lengthen the
    // audio.
    {"a chunk after a WAV's data",
     [](const fs::path& dir) {
       return writeWav(
           dir, wavStating(1, 1, "LIST" + little(16004, 4) + "INFO" + std::string(16000, 'x')));
     },
     {.statedLengthMarginSeconds = 0},
     1.0},
    // The data chunk's size is odd, so a pad byte comes before the next chunk.
    {"a chunk after a WAV's data of an odd size",
     [](const fs::path& dir) {
       std::string wav = wavStating(
           1, 1, std::string("\x01\0", 2) + "_PMX" + little(16001, 4) + std::string(16001, 'x'));
       wav[40] = '\x01';  // the data chunk's size, 32 001 bytes
       return writeWav(dir, wav);
     },
     {.statedLengthMarginSeconds = 0},
     1.0},
    {"three times the length its header states",
     [](const fs::path& dir) { return flacStating(dir, 3, 1); },
     {.statedLengthMarginSeconds = 0},
     {},
     "its audio goes on past twice the length of 1 s that its container states"},
    {"half again the length its header states",
     [](const fs::path& dir) { return flacStating(dir, 3, 2); },
     {.statedLengthMarginSeconds = 0},
     3.0},
};
INSTANTIATE_TEST_SUITE_P(, AudioFileRead, ::testing::ValuesIn(kReadings),
                         testing::namedBy<&Reading::name>);

// Inputs that are no recording are refused before any library but FFmpeg's probe reads them:
// game music, which libgme would play in a loop forever (and which faults inside libgme when
// damaged), and a schedule of tones that FFmpeg would synthesize for up to a day.
struct Refusal {
  std::string name;
  std::string bytes;
  std::string why;
};

class AudioFileOpen : public ::testing::TestWithParam<Refusal> {};

TEST_P(AudioFileOpen, RefusesWhatIsNoRecording) {
  ScratchDirectory scratch;
  const fs::path path = scratch.path() / GetParam().name;
  testing::writeText(path, GetParam().bytes);
  EXPECT_THAT([&] { platform::openDecodedAudioFile(path.string(), {}); },
              ::testing::ThrowsMessage<platform::UndecodableAudioError>(
                  "Cannot open audio file " + path.string() + ": " + GetParam().why));
}

INSTANTIATE_TEST_SUITE_P(
    , AudioFileOpen,
    ::testing::Values(
        Refusal{"loop.vgm", loopingVgm(), "it is music for libgme to play, not a recording"},
        Refusal{"schedule.sbg", "a: 300+10/50\n12:00 a\n",
                "it is an SBaGen schedule for FFmpeg to synthesize sound from, not a recording"}),
    testing::namedBy<&Refusal::name>);

}  // namespace
}  // namespace ondevice
