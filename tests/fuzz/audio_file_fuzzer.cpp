// Audio files of arbitrary bytes: written to a file (the first byte picks its extension, which
// FFmpeg's probing weighs), opened, decoded to the end and cut into utterances, as the analyzer
// does before recognition (tests/fuzz/recognition_fuzzer.cpp does the recognition). Beside the
// file lie a FIFO and a device that playlists may name.
//
// Checked: opening either succeeds or throws UndecodableAudioError; decoding either reaches the
// end or throws PlatformError, within the length bound (inputs that never end are refused there);
// no read hands out more than its bounded piece; the last sample time is none or a positive count
// at a positive rate, and the 16 kHz samples handed out never reach past it; utterances lie in
// order inside them.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/api/platform_error.h"
#include "platform/module/audio/audio_file.h"
#include "platform/module/audio/voice_activity_detector.h"
#include "platform/module/speech_libraries.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using ondevice::platform::Utterance;

// A minute: past it, an input is refused, so that one that never ends costs a minute of audio.
constexpr ondevice::platform::AudioLengthBounds kBounds{.longestSeconds = 60};
constexpr int64_t kMostSamples = 16000 * kBounds.longestSeconds;

void writeFile(const std::string& path, const uint8_t* data, size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  FUZZ_CHECK(fd >= 0, path);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    FUZZ_CHECK(n > 0, path);
    done += static_cast<size_t>(n);
  }
  ::close(fd);
}

}  // namespace

// Files a playlist or concatenation list among the inputs may name: opening either would hang
// the run (a FIFO without writer) or feed it forever (a device), which libFuzzer reports.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ondevice::platform::setUpSpeechLibraries();
  const auto& scratch = ondevice::fuzz::scratchDirectory();
  FUZZ_CHECK(::mkfifo((scratch / "fifo.wav").c_str(), 0600) == 0, "mkfifo");
  std::filesystem::create_symlink("/dev/urandom", scratch / "noise.wav");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const char* const extensions[] = {".wav", ".mp3", ".flac", ".ogg", ".m4a", ".bin"};
  const std::string path = (ondevice::fuzz::scratchDirectory() / "input").string() +
                           extensions[data[0] % std::size(extensions)];
  writeFile(path, data + 1, size - 1);

  std::unique_ptr<ondevice::platform::AudioFile> opened;
  try {
    opened = ondevice::platform::openDecodedAudioFile(path, kBounds);
  } catch (const ondevice::platform::UndecodableAudioError&) {
    // Bytes that are not audio are the file's fault, never another failure of the platform.
    ::unlink(path.c_str());
    return 0;
  }
  ondevice::platform::AudioFile& audio = *opened;

  ondevice::platform::VoiceActivityDetector detector;
  int64_t samples = 0;
  int64_t previousEnd = 0;
  const auto sink = [&](Utterance utterance) {
    FUZZ_CHECK(utterance.startSample >= previousEnd, "utterances overlap");
    previousEnd = utterance.startSample + static_cast<int64_t>(utterance.samples.size());
    FUZZ_CHECK(previousEnd <= samples, "an utterance past the samples");
  };
  bool complete = false;
  try {
    std::vector<int16_t> chunk;
    while (audio.read(chunk)) {
      FUZZ_CHECK(!chunk.empty(), "read() answered true with no samples");
      FUZZ_CHECK(chunk.size() <= static_cast<size_t>(ondevice::platform::kMostSamplesPerRead),
                 "a read past its bound");
      samples += static_cast<int64_t>(chunk.size());
      FUZZ_CHECK(samples <= kMostSamples, "audio past the length bound");
      detector.push(chunk, sink);
    }
    complete = true;
    detector.finish(sink);
  } catch (const ondevice::platform::PlatformError&) {
  }
  ::unlink(path.c_str());

  const auto last = audio.lastSampleTime();
  if (!last) {
    if (complete) FUZZ_CHECK(samples == 0, "samples without a last sample time");
    return 0;
  }
  FUZZ_CHECK(last->value > 0 && last->timescale > 0, "last sample time");
  // The 16 kHz samples handed out never reach past the end of the source's samples.
  FUZZ_CHECK(static_cast<double>(samples) <= last->seconds() * 16000 + 1, "samples past the end");
  return 0;
}
