#pragma once
// Audio files opened with FFmpeg, read as a stream of 16 kHz mono 16-bit samples, the form the
// recogniser needs. Only one demuxed packet and one decoded frame are in memory at a time.
//
//   auto file = openDecodedAudioFile("talk.m4a");          // throws PlatformError
//   auto& audio = static_cast<DecodedAudioFile&>(*file);
//   std::vector<int16_t> chunk;
//   while (audio.read(chunk)) consume(chunk);               // throws PlatformError
//   std::optional<MediaTime> last = audio.lastSampleTime();  // exact, in the source's rate

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/platform/media_time.h"
#include "engine/platform/speech_platform.h"

namespace ondevice::platform {

// The rate of the samples that read() hands out.
inline constexpr int kRecognitionSampleRate = 16000;

class DecodedAudioFile final : public AudioFile {
 public:
  ~DecodedAudioFile() override;
  DecodedAudioFile(const DecodedAudioFile&) = delete;
  DecodedAudioFile& operator=(const DecodedAudioFile&) = delete;

  // Replaces `chunk` with the next samples (16 kHz, mono, 16-bit); false once the file is
  // exhausted. Packets FFmpeg finds corrupt are skipped, as a player would; any other read or
  // decode failure throws PlatformError.
  bool read(std::vector<int16_t>& chunk);

  // The time of the end of the last decoded source sample: samples over the source's rate.
  // None when the file decoded to no samples (so far). Exact once read() has answered false.
  std::optional<MediaTime> lastSampleTime() const;

  const std::string& path() const;

 private:
  struct Stream;
  explicit DecodedAudioFile(std::unique_ptr<Stream> stream);
  friend std::unique_ptr<AudioFile> openDecodedAudioFile(const std::string& path);

  std::unique_ptr<Stream> stream_;
};

// Opens `path` and finds a decodable audio stream; throws PlatformError otherwise. A path that
// is not a regular file (directory, FIFO, device) is refused without being opened, so that the
// caller can never block on a FIFO without writer.
std::unique_ptr<AudioFile> openDecodedAudioFile(const std::string& path);

}  // namespace ondevice::platform
