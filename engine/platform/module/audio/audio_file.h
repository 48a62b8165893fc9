#pragma once
// Audio files opened with FFmpeg, read as a stream of 16 kHz mono 16-bit samples, the form the
// recogniser needs. Only one demuxed packet and one decoded frame are in memory at a time.
//
//   std::unique_ptr<AudioFile> file = openDecodedAudioFile("talk.m4a");   // throws PlatformError
//   std::vector<int16_t> chunk;
//   while (file->read(chunk)) consume(chunk);                             // throws PlatformError
//   std::optional<MediaTime> last = file->lastSampleTime();  // exact, in the source's rate

#include <memory>
#include <string>

#include "engine/platform/speech_platform.h"

namespace ondevice::platform {

// Opens `path` and finds a decodable audio stream in it; throws PlatformError otherwise. A path
// that is not a regular file (directory, FIFO, device) is refused without being opened, so that
// the caller can never block on a FIFO without writer.
std::unique_ptr<AudioFile> openDecodedAudioFile(const std::string& path);

}  // namespace ondevice::platform
