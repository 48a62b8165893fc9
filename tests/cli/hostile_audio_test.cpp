// The binary against audio files that are not what they claim: strange paths, things that are
// not files, malformed and enormous headers, files that name other files, and a path swapped
// with a FIFO while the tool runs. Each refusal is invalid audio with the path exactly as given.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/hostile_input.h"
#include "tests/support/binary_records.h"
#include "tests/support/case_name.h"
#include "tests/support/files.h"
#include "tests/support/sanitizer_build.h"
#include "tests/support/speech_test_support.h"

namespace ondevice::testing::hostile {
namespace {

namespace fs = std::filesystem;
using speech::ffmpeg;

// ---------------------------------------------------------------------------------------------
// Paths: each names something that is not audio, so the answer is always invalidAudio with the
// path exactly as given.

class HostilePaths : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name :
         {"say \"hi\" 'there'.wav", "back\\slash.wav", "new\nline.wav", "tab\tand\rreturn.wav",
          "caf\xC3\xA9 \xE2\x98\x95 \xF0\x9D\x84\x9E.wav", "colon:file:.wav", "file.wav",
          "\xFF\xFE.wav"}) {
      writeText(dir_ / name, "this is not audio\n");
    }
    writeText(dir_ / "-rf.wav", "not audio");
    fs::create_symlink(dir_ / "loop2", dir_ / "loop");
    fs::create_symlink(dir_ / "loop", dir_ / "loop2");
    fs::create_symlink(dir_ / "nowhere", dir_ / "dangling");
    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  }

  ScratchDirectory scratch_;
  const fs::path dir_ = scratch_.path();
};

struct Path {
  std::string path;            // "$DIR" is the scratch directory
  bool fromDirectory = false;  // run in the scratch directory
};

class HostilePath : public HostilePaths, public ::testing::WithParamInterface<Path> {};

TEST_P(HostilePath, IsInvalidAudio) {
  // Nothing here needs reading: refusing must not wait on a writer or read a device, so the
  // bound is short.
  const std::string path = inDirectory(GetParam().path, dir_);
  ProcessOptions options;
  if (GetParam().fromDirectory) options.workingDirectory = dir_;
  options.timeout = std::chrono::seconds(20);
  EXPECT_THAT(runBinary({"transcribe", "--no-prepare", "--file", path}, options),
              FailsWith("Invalid audio file: " + path));
}

const Path kPaths[] = {
    {"$DIR/say \"hi\" 'there'.wav"},
    {"$DIR/back\\slash.wav"},
    {"$DIR/new\nline.wav"},
    {"$DIR/tab\tand\rreturn.wav"},
    {"$DIR/caf\xC3\xA9 \xE2\x98\x95 \xF0\x9D\x84\x9E.wav"},
    {"$DIR/colon:file:.wav"},
    {"-rf.wav", true},
    {"./-rf.wav", true},
    {"$DIR/loop"},
    {"$DIR/dangling"},
    {"$DIR/fifo"},
    {"/dev/zero"},
    {"/dev/urandom"},
    {"/dev/null"},
    {"/dev/stdin"},
    {"$DIR"},
    {"$DIR/"},
    {"$DIR/file.wav/"},
    {"/nonexistent/dir/a.wav"},
    {"~/a.wav"},
};
INSTANTIATE_TEST_SUITE_P(, HostilePath, ::testing::ValuesIn(kPaths), numberedBy<&Path::path>);

// Bytes that are not UTF-8 in the path: the file is still found (refused as not audio), and
// the host reads U+FFFD in their place.
TEST_F(HostilePaths, BytesThatAreNotUtf8AreReplacedInTheError) {
  EXPECT_THAT(run({"transcribe", "--no-prepare", "--file", (dir_ / "\xFF\xFE.wav").string()}),
              FailsWith("Invalid audio file: " + dir_.string() + "/" + kReplacement + kReplacement +
                        ".wav"));
}

// A leading "--" makes the path a key, so no file was given.
TEST_F(HostilePaths, APathThatLooksLikeAKeyIsNoFile) {
  EXPECT_THAT(run({"transcribe", "--no-prepare", "--file", "--x.wav"}),
              FailsWith("Missing required argument: file"));
}

// ---------------------------------------------------------------------------------------------
// Audio

struct WavHeader {
  uint16_t format = 1;  // PCM
  uint16_t channels = 1;
  uint32_t sampleRate = 16000;
  uint16_t bitsPerSample = 16;
  std::optional<uint32_t> blockAlign = {};  // default channels * bits / 8
  std::optional<uint32_t> byteRate = {};    // default rate * block align
  std::optional<uint32_t> dataSize = {};    // default the real size
  std::optional<uint32_t> riffSize = {};    // default the real size
};

std::string little(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return out;
}

std::string wav(const WavHeader& h, const std::string& data) {
  const uint32_t block = h.blockAlign.value_or(h.channels * h.bitsPerSample / 8);
  const uint32_t byteRate =
      h.byteRate.value_or(static_cast<uint32_t>(static_cast<uint64_t>(h.sampleRate) * block));
  const std::string fmt = little(h.format, 2) + little(h.channels, 2) + little(h.sampleRate, 4) +
                          little(byteRate, 4) + little(block, 2) + little(h.bitsPerSample, 2);
  const std::string body = "WAVEfmt " + little(fmt.size(), 4) + fmt + "data" +
                           little(h.dataSize.value_or(data.size()), 4) + data;
  return "RIFF" + little(h.riffSize.value_or(body.size()), 4) + body;
}

// Half a second of a quiet sine at 16 kHz, 16-bit.
std::string toneSamples(double seconds = 0.5, int rate = 16000) {
  std::string data;
  const int count = static_cast<int>(seconds * rate);
  for (int i = 0; i < count; ++i) {
    const auto sample = static_cast<int16_t>(2000 * std::sin(i * 2 * 3.14159265 * 440 / rate));
    data += little(static_cast<uint16_t>(sample), 2);
  }
  return data;
}

// Two seconds of a tone as MP3, made in `dir`.
std::string mp3(const fs::path& dir) {
  ffmpeg({"-f", "lavfi", "-i", "sine=frequency=300:duration=2", "-c:a", "libmp3lame",
          (dir / "whole.mp3").string()});
  return readText(dir / "whole.mp3");
}

std::string third(const std::string& bytes) { return bytes.substr(0, bytes.size() / 3); }

// A second of a test picture as MPEG-4 video without sound, made in `dir`.
std::string videoOnly(const fs::path& dir) {
  ffmpeg({"-f", "lavfi", "-i", "testsrc=duration=1:size=64x64:rate=5", "-an", "-c:v", "mpeg4",
          (dir / "video-only.mp4").string()});
  return readText(dir / "video-only.mp4");
}

struct Audio {
  std::string name;
  std::string bytes;
  std::optional<int> status;  // when the outcome is certain; 1 means refused as not audio
  // Instead of `bytes`, for what ffmpeg must make first (in the directory given).
  std::function<std::string(const fs::path&)> made = {};
};

class HostileAudio : public ::testing::TestWithParam<Audio> {};

TEST_P(HostileAudio, EndsWithOneRecord) {
  ScratchDirectory scratch;
  const fs::path path = scratch.path() / GetParam().name;
  writeText(path, GetParam().made ? GetParam().made(scratch.path()) : GetParam().bytes);
  const ProcessResult r = run({"transcribe", "--no-prepare", "--file", path.string()});
  ASSERT_THAT(r, EndsWithOneRecord());
  if (GetParam().status) {
    EXPECT_EQ(r.exitStatus, *GetParam().status);
  }
  if (GetParam().status == 1) {
    // Refused when opened (a failure during the analysis would carry its own words).
    EXPECT_EQ(recordField(r, "error"), "Invalid audio file: " + path.string());
  }
  if (r.exitStatus == 0) {
    // Whatever was decoded lies within what the bytes can hold.
    const double duration = std::strtod(recordField(r, "duration").c_str(), nullptr);
    EXPECT_GE(duration, 0.0);
    EXPECT_LT(duration, 600.0);
  }
}

const std::string kTone = toneSamples();
const std::string kWav = wav({}, kTone);
constexpr uint32_t kGigabytes = 0xFFFFFFF0u;
const Audio kAudio[] = {
    {"empty.wav", "", 1},
    {"header-cut.wav", kWav.substr(0, 30), 1},
    {"data-cut.wav", kWav.substr(0, 44 + 1001), {}},  // odd: the last sample is half there
    {"header-only.mp3", "", {}, [](const fs::path& dir) { return mp3(dir).substr(0, 100); }},
    {"cut.mp3", "", {}, [](const fs::path& dir) { return third(mp3(dir)); }},
    {"claims-gigabytes.wav", wav({.dataSize = kGigabytes, .riffSize = kGigabytes}, kTone), {}},
    // An INFO chunk that claims 1.6 GB: the demuxer must not allocate what it claims.
    {"info-claims-gigabytes.wav",
     kWav.substr(0, 36) + "LIST" + little(0xA0000001u, 4) + "INFOISFT" + little(1677733944u, 4) +
         "Lavf" + kWav.substr(36),
     1},
    {"random.wav", randomBytes(65536, 1), {}},
    {"random.mp3", randomBytes(65536, 2), {}},
    {"random-after-header.wav", kWav.substr(0, 44) + randomBytes(32000, 3), {}},
    {"video-only.mp4", "", 1, videoOnly},
    // Tones that FFmpeg would synthesize from this schedule for up to a day.
    {"schedule.sbg", "a: 300+10/50\n12:00 a\n", 1},
    {"zero-channels.wav", wav({.channels = 0, .blockAlign = 2}, kTone), 1},
    // More channels than any decoder takes: refused when the decoder is opened.
    {"thousand-channels.wav", wav({.channels = 1000}, kTone), 1},
    {"zero-rate.wav", wav({.sampleRate = 0}, kTone), 1},
    // A sample rate no audio has is refused when the file is opened: at 1 Hz each sample
    // would be 16 000 of the recogniser's (16 KB of WAV, a gigabyte at its peak), at 1 GHz the
    // resampler would spend a gigabyte and seconds before producing one sample.
    {"one-hertz.wav", wav({.sampleRate = 1}, std::string(16384, '\0')), 1},
    {"below-a-kilohertz.wav", wav({.sampleRate = 999}, kTone), 1},
    {"top-rate.wav", wav({.sampleRate = 0x7FFFFFFF}, kTone), 1},
    {"gigahertz.wav", wav({.sampleRate = 1077944064}, kTone), 1},
    {"gigahertz-8-bit.wav",
     wav({.sampleRate = 1077944064, .bitsPerSample = 8}, kTone.substr(0, 500)), 1},
    {"hundred-megahertz.wav", wav({.sampleRate = 100000007}, kTone), 1},
    {"negative-rate.wav", wav({.sampleRate = 0xFFFFFFFF}, kTone), 1},
    {"zero-bits.wav", wav({.bitsPerSample = 0, .blockAlign = 2}, kTone), {}},
    {"odd-bits.wav", wav({.bitsPerSample = 7}, kTone), {}},
    {"zero-block.wav", wav({.blockAlign = 0}, kTone), {}},
    {"unknown-format.wav", wav({.format = 0x1234}, kTone), {}},
    // IEEE float: all-ones bytes are NaN samples.
    {"float-nan.wav", wav({.format = 3, .bitsPerSample = 32}, std::string(16000, '\xFF')), {}},
};
INSTANTIATE_TEST_SUITE_P(, HostileAudio, ::testing::ValuesIn(kAudio), namedBy<&Audio::name>);

// ---------------------------------------------------------------------------------------------
// Playlists and concatenation lists make a demuxer open the files they name. An audio file is
// its own bytes: what it names is never opened, so a FIFO without writer behind it cannot
// block the tool and a device behind it cannot feed it forever.

struct Naming {
  std::string name;
  std::string text;
};

class FileThatNamesOtherFiles : public ::testing::TestWithParam<Naming> {};

TEST_P(FileThatNamesOtherFiles, IsInvalidAudio) {
  ScratchDirectory scratch;
  const fs::path dir = scratch.path();
  ASSERT_EQ(::mkfifo((dir / "fifo.wav").c_str(), 0600), 0);
  fs::create_symlink("/dev/urandom", dir / "noise.wav");
  fs::copy_file(kSpeechFile, dir / "speech.wav");
  writeText(dir / GetParam().name, GetParam().text);
  ProcessOptions options;
  options.timeout = std::chrono::seconds(20);
  EXPECT_THAT(runBinary({"transcribe", "--no-prepare", "--file", (dir / GetParam().name).string()},
                        options),
              FailsWith("Invalid audio file: " + (dir / GetParam().name).string()));
}

const std::string kHls = "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\n";
const Naming kNamings[] = {
    {"fifo.m3u8", kHls + "fifo.wav\n#EXT-X-ENDLIST\n"},
    {"fifo-playlist.wav", kHls + "fifo.wav\n#EXT-X-ENDLIST\n"},
    {"noise.m3u8", kHls + "noise.wav\n#EXT-X-ENDLIST\n"},
    {"speech.m3u8", kHls + "speech.wav\n#EXT-X-ENDLIST\n"},
    {"fifo.ffconcat", "ffconcat version 1.0\nfile fifo.wav\n"},
    {"speech.ffconcat", "ffconcat version 1.0\nfile speech.wav\n"},
};
INSTANTIATE_TEST_SUITE_P(, FileThatNamesOtherFiles, ::testing::ValuesIn(kNamings),
                         namedBy<&Naming::name>);

TEST(HostileInput, AudioPathSwappedWithAFifo) {
  // The path names a WAV one moment and a FIFO without writer the next: a thread swaps the two
  // (renameat2 RENAME_EXCHANGE) while the tool runs. Whatever the path names when the file is
  // opened is what is checked and read, so every run ends on its own, as a result or as
  // invalid audio.
  ScratchDirectory scratch;
  const fs::path audio = scratch.path() / "audio.wav";
  const fs::path other = scratch.path() / "other";
  writeText(audio, wav({}, std::string(16000, '\0')));  // silence: no model is loaded
  ASSERT_EQ(::mkfifo(other.c_str(), 0600), 0);
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    while (!stop) ::renameat2(AT_FDCWD, audio.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE);
  });
  // Before the file was checked through its descriptor, about one run in twenty hung. A
  // sanitizer's build runs fewer: each of its runs costs ten times as much.
  constexpr int kRuns = ondevice::testing::kSanitizerBuild ? 30 : 100;
  int results = 0;
  int refusals = 0;
  for (int i = 0; i < kRuns; ++i) {
    SCOPED_TRACE(i);
    ProcessOptions options;
    options.timeout = std::chrono::seconds(30);
    const ProcessResult r =
        runBinary({"transcribe", "--no-prepare", "--file", audio.string()}, options);
    EXPECT_THAT(r, EndsWithOneRecord());
    if (r.exitStatus == 0) ++results;
    if (r.exitStatus == 1) {
      ++refusals;
      EXPECT_EQ(recordField(r, "error"), "Invalid audio file: " + audio.string());
    }
  }
  stop = true;
  swapper.join();
  EXPECT_EQ(results + refusals, kRuns);
}

}  // namespace
}  // namespace ondevice::testing::hostile
