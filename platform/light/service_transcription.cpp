#include "platform/light/service_transcription.h"

#include "platform/api/platform_error.h"

namespace ondevice::platform {

bool ServiceAudioFile::read(std::vector<int16_t>& chunk) {
  if (!inProcess_) inProcess_ = openInProcess_();
  return inProcess_->read(chunk);
}

std::optional<MediaTime> ServiceAudioFile::lastSampleTime() const {
  return inProcess_ ? inProcess_->lastSampleTime() : std::nullopt;
}

ServiceAnalyzer::ServiceAnalyzer(SpeechTranscriberRef transcriber, AnalyzerModel model,
                                 std::optional<service::AnalyzeRequest> request,
                                 InProcess makeInProcess)
    : transcriber_(std::move(transcriber)),
      model_(std::move(model)),
      request_(std::move(request)),
      makeInProcess_(std::move(makeInProcess)) {}

ServiceAnalyzer::~ServiceAnalyzer() {
  // As the module's analyzer does when it goes unfinished.
  if (!inProcess_) {
    transcriber_->results()->fail(std::make_exception_ptr(
        PlatformError("The speech analysis was released before it finished")));
  }
}

std::optional<MediaTime> ServiceAnalyzer::analyzeSequence(AudioFile& file) {
  auto* handed = dynamic_cast<ServiceAudioFile*>(&file);
  if (handed != nullptr && request_) {
    if (auto session = handed->takeSession()) {
      if (auto outcome = session->analyze(*request_)) {
        const auto results = transcriber_->results();
        for (TranscriptionResult& result : outcome->results) results->deliver(std::move(result));
        return outcome->last;
      }
    }
  }
  inProcess_ = makeInProcess_(std::move(model_));
  return inProcess_->analyzeSequence(file);
}

void ServiceAnalyzer::finalizeAndFinish(MediaTime through) {
  if (inProcess_) return inProcess_->finalizeAndFinish(through);
  transcriber_->results()->finish();
}

void ServiceAnalyzer::cancelAndFinishNow() noexcept {
  if (inProcess_) return inProcess_->cancelAndFinishNow();
  transcriber_->results()->finish();
}

}  // namespace ondevice::platform
