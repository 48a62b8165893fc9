#pragma once
// FFmpeg's process-wide settings, made once before FFmpeg opens anything (when the speech module
// starts, module/speech_libraries.h): no log output, and no single allocation above 256 MiB.

namespace ondevice::platform {

void setUpFFmpeg();

}  // namespace ondevice::platform
