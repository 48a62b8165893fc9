#pragma once
// Audio files opened with FFmpeg, read as a stream of 16 kHz mono 16-bit samples, the form the
// recogniser needs. Memory stays bounded whatever the file says: one demuxed packet and one
// decoded frame are held at a time, and a read hands out at most kMostSamplesPerRead samples
// (audio_limits.h), however far a gap in the timeline or a low sample rate stretches them.
//
//   std::unique_ptr<AudioFile> file = openDecodedAudioFile("talk.m4a");   // throws PlatformError
//   std::vector<int16_t> chunk;
//   while (file->read(chunk)) consume(chunk);                             // throws PlatformError
//   std::optional<MediaTime> last = file->lastSampleTime();  // exact, in the source's rate

#include <memory>
#include <string>

#include "platform/api/speech_platform.h"
#include "platform/module/audio/audio_input.h"
#include "platform/module/audio/audio_limits.h"

namespace ondevice::platform {

// Opens `path` and finds a decodable audio stream in it. The path is opened once, without
// waiting, and checked through that descriptor (audio_input.h): one that names no non-empty
// regular file (a directory, a FIFO, a device) is refused without being read, so that the caller
// can never block on a FIFO without writer. Throws UndecodableAudioError when the file is not
// decodable audio, PlatformError for any other failure. A read throws PlatformError "Cannot read
// <path>: its audio goes on past ..." once the audio passes `bounds`: an input that never ends
// (a looping or synthesizing demuxer) ends there.
std::unique_ptr<AudioFile> openDecodedAudioFile(const std::string& path,
                                                const AudioLengthBounds& bounds = {});
// The same for a file opened elsewhere (audio_input.h), checked through its descriptor.
std::unique_ptr<AudioFile> openDecodedAudioFile(AudioSource source,
                                                const AudioLengthBounds& bounds = {});

}  // namespace ondevice::platform
