#pragma once
// The platform's audio file and analyzer when a transcription may go to the warm service
// (service_client.h): the file is opened with the service and read in-process only should the
// service fail; the analyzer hands the analysis to the service and delivers what it sends back
// into the transcriber's results, or, on any failure of the service, analyzes in-process with
// the speech module, as it would have without a service. The record is built the same either
// way, from the same results.
//
//   auto file = std::make_unique<ServiceAudioFile>(path, std::move(session), openInProcess);
//   ServiceAnalyzer analyzer(transcriber, model, request, makeInProcess);
//   analyzer.analyzeSequence(*file);

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/api/speech_platform.h"
#include "platform/contract/service_protocol.h"
#include "platform/contract/speech_module.h"
#include "platform/light/service_client.h"

namespace ondevice::platform {

class ServiceAudioFile final : public AudioFile {
 public:
  using Opener = std::function<std::unique_ptr<AudioFile>()>;
  ServiceAudioFile(ServiceSession session, Opener openInProcess)
      : session_(std::move(session)), openInProcess_(std::move(openInProcess)) {}

  // Read in-process: the service failed, and the file is opened again by its path.
  bool read(std::vector<int16_t>& chunk) override;
  std::optional<MediaTime> lastSampleTime() const override;

  // The session with the service, once; none after that.
  std::optional<ServiceSession> takeSession() { return std::exchange(session_, std::nullopt); }

 private:
  std::optional<ServiceSession> session_;
  Opener openInProcess_;
  std::unique_ptr<AudioFile> inProcess_;
};

class ServiceAnalyzer final : public SpeechAnalyzer {
 public:
  using InProcess = std::function<std::unique_ptr<SpeechAnalyzer>(AnalyzerModel)>;
  // `request` none: the model cannot be named to a service; the analysis runs in-process.
  ServiceAnalyzer(SpeechTranscriberRef transcriber, AnalyzerModel model,
                  std::optional<service::AnalyzeRequest> request, InProcess makeInProcess);
  ~ServiceAnalyzer() override;

  std::optional<MediaTime> analyzeSequence(AudioFile& file) override;
  void finalizeAndFinish(MediaTime through) override;
  void cancelAndFinishNow() noexcept override;

 private:
  SpeechTranscriberRef transcriber_;
  AnalyzerModel model_;
  std::optional<service::AnalyzeRequest> request_;
  InProcess makeInProcess_;
  std::unique_ptr<SpeechAnalyzer> inProcess_;
};

}  // namespace ondevice::platform
