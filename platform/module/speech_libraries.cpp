#include "platform/module/speech_libraries.h"

#include <mutex>

#include "platform/module/assets/http_download.h"
#include "platform/module/audio/ffmpeg_setup.h"
#include "platform/module/decoding/pocketsphinx_decoder.h"

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
