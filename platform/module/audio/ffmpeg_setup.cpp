#include "platform/module/audio/ffmpeg_setup.h"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

namespace ondevice::platform {

void setUpFFmpeg() {
  av_log_set_level(AV_LOG_QUIET);
  // FFmpeg sizes some buffers from lengths in the file's headers: a 120-byte WAV whose INFO
  // chunk claims 1.6 GB made the demuxer allocate and zero that much before failing. No block
  // that audio needs comes near the limit, so a larger request fails and the file is refused.
  av_max_alloc(256 * 1024 * 1024);
}

}  // namespace ondevice::platform
