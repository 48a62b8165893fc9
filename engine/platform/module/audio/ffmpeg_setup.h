#pragma once
// FFmpeg's process-wide settings, made once before FFmpeg opens anything (the speech module's
// entry does it, see module/speech_libraries.h): no log output, and no single allocation above
// 256 MiB.

namespace ondevice::platform {

void setUpFFmpeg();

}  // namespace ondevice::platform
