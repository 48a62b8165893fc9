#include "engine/platform/light/recogniser_watch.h"

#include <atomic>
#include <cstdio>

namespace ondevice::platform {
namespace {

// Written before the decoder threads start, read from a signal or exit handler: plain
// characters behind an atomic flag, nothing that allocates or locks.
char loadingText[192];
char decodingText[192];
std::atomic<bool> watching{false};

thread_local RecogniserStage stageOfThisThread = RecogniserStage::none;

}  // namespace

void watchRecognition(const std::string& localeIdentifier) {
  watching.store(false, std::memory_order_release);
  std::snprintf(loadingText, sizeof loadingText,
                "The speech recogniser stopped the run: the speech model for %s could not be "
                "loaded.",
                localeIdentifier.c_str());
  std::snprintf(decodingText, sizeof decodingText,
                "The speech recogniser stopped the run while decoding the audio with the speech "
                "model for %s.",
                localeIdentifier.c_str());
  watching.store(true, std::memory_order_release);
}

void noteRecogniserStage(RecogniserStage stage) noexcept { stageOfThisThread = stage; }

const char* recogniserStopDescription() noexcept {
  if (!watching.load(std::memory_order_acquire)) return nullptr;
  switch (stageOfThisThread) {
    case RecogniserStage::loadingModel:
      return loadingText;
    case RecogniserStage::decoding:
      return decodingText;
    case RecogniserStage::none:
      break;
  }
  return nullptr;
}

}  // namespace ondevice::platform
