#include "engine/platform/module/speech_libraries.h"

#include <mutex>

#include "engine/platform/module/assets/http_download.h"
#include "engine/platform/module/audio/ffmpeg_setup.h"
#include "engine/platform/module/recognition/pocketsphinx_decoder.h"

namespace ondevice::platform {

void setUpSpeechLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    silenceRecogniser();
    setUpFFmpeg();
  });
}

void setUpDownloadLibraries() {
  static std::once_flag once;
  std::call_once(once, [] { setUpDownloads(); });
}

}  // namespace ondevice::platform
