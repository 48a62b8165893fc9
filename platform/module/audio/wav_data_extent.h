#pragma once
// Whether a WAV file's samples run on past the length its data chunk states. A recorder that
// dies before its last header update leaves a data chunk that states the length it had at that
// update, followed by all the samples recorded since, with no chunk after them: read by the
// stated length, the rest of the recording would vanish without a word. The bytes after the
// stated data are samples when they do not form a chunk header; a file with a chunk there (an
// INFO list, a broadcast extension) ends its data where the chunk says.
//
//   if (format is "wav" && wavSamplesRunPastDataChunk(input)) ... // read to the end of the file

#include "platform/module/audio/audio_input.h"

namespace ondevice::platform {

// Reads the RIFF header and chunk headers through `input` without moving its position. False
// for anything that is no plain RIFF WAVE file (RF64 states its sizes elsewhere), for a data
// chunk that already reads to the end of the file (its size 0 or all ones), and where fewer
// bytes than a chunk header follow the stated data.
bool wavSamplesRunPastDataChunk(const AudioInput& input);

}  // namespace ondevice::platform
