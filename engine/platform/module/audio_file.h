#pragma once
// Audio files opened with FFmpeg.

#include <memory>
#include <string>

#include "engine/platform/speech_platform.h"

namespace ondevice::platform {

// Opens `path` and finds a decodable audio stream; throws PlatformError otherwise.
std::unique_ptr<AudioFile> openDecodedAudioFile(const std::string& path);

}  // namespace ondevice::platform
