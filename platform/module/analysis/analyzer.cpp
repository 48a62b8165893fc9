#include "platform/module/analysis/analyzer.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "base/memory_limits.h"
#include "platform/api/platform_error.h"
#include "platform/module/analysis/text_stage.h"
#include "platform/module/audio/noise_gate.h"
#include "platform/module/audio/voice_activity_detector.h"
#include "platform/module/decoding/decoder_pool.h"
#include "platform/module/decoding/pocketsphinx_decoder.h"
#include "platform/module/model/model_file_check.h"

namespace ondevice::platform {
namespace {

// What one decoder with the en-us model holds (measured: about 100 MB resident), and what all
// decoders together may take: at most a quarter of the memory, and never more than 1 GiB.
constexpr uint64_t kBytesPerDecoder = 110ull << 20;
constexpr uint64_t kDecoderBudgetCap = 1ull << 30;

// Passes any failure on as a PlatformError: what reaches the host must be one.
[[noreturn]] void rethrowAsPlatformError(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const PlatformError&) {
    throw;
  } catch (const std::exception& other) {
    throw PlatformError(std::string("Speech analysis failed: ") + other.what());
  } catch (...) {
    throw PlatformError("Speech analysis failed");
  }
}

class RecognitionAnalyzer final : public SpeechAnalyzer {
 public:
  RecognitionAnalyzer(SpeechTranscriberRef transcriber, AnalyzerModel model,
                      std::shared_ptr<DecoderSource> decoders, unsigned threads)
      : decoders_(std::move(decoders)),
        transcriber_(std::move(transcriber)),
        results_(transcriber_->results()),
        text_(transcriber_->locale()),
        model_(std::move(model)),
        threads_(threads != 0 ? threads
                              : recognitionThreads(model_.requestedThreads,
                                                   std::thread::hardware_concurrency(),
                                                   residentMemoryLimit())) {}

  ~RecognitionAnalyzer() override {
    pool_.reset();  // joins the workers; none of them waits on the consumer
    results_->fail(std::make_exception_ptr(
        PlatformError("The speech analysis was released before it finished")));
  }

  std::optional<MediaTime> analyzeSequence(AudioFile& file) override {
    try {
      if (!model_.files) {
        if (model_.unavailable) std::rethrow_exception(model_.unavailable);
        throw PlatformError("The speech analysis was given no speech model");
      }
      // Before the recogniser opens any of its files: it would wait on a FIFO among them, or
      // size its tables from a header that claims too much.
      if (const auto fault = modelFileFault(*model_.files)) {
        throw PlatformError("Cannot load " + model_.name + ": " + *fault);
      }

      pool_ = std::make_unique<DecoderPool>(
          decoders_ ? decoders_ : std::make_shared<FreshDecoders>(*model_.files), threads_,
          [this](RecognisedUtterance recognised) {
            results_->deliver(text_.write(std::move(recognised)));
          },
          model_.notes);
      NoiseGate gate;
      VoiceActivityDetector detector;
      const auto decode = [this](Utterance utterance) { pool_->submit(std::move(utterance)); };
      std::vector<int16_t> chunk;
      std::vector<int16_t> conditioned;
      const auto cut = [&] {
        detector.push(conditioned, decode);
        conditioned.clear();
      };
      while (file.read(chunk)) {
        gate.push(chunk, conditioned);
        cut();
      }
      gate.finish(conditioned);
      cut();
      detector.finish(decode);
      return file.lastSampleTime();
    } catch (...) {
      abandon(std::current_exception());
    }
  }

  void finalizeAndFinish(MediaTime /*through*/) override {
    // Every utterance lies before the last sample time, so all of them are finalized.
    try {
      if (pool_) pool_->drain();
    } catch (...) {
      abandon(std::current_exception());
    }
    results_->finish();
  }

  void cancelAndFinishNow() noexcept override {
    if (pool_) pool_->stop();
    results_->finish();
  }

 private:
  // Stops decoding, ends the results with the failure and throws it.
  [[noreturn]] void abandon(std::exception_ptr error) {
    if (pool_) pool_->stop();
    try {
      rethrowAsPlatformError(error);
    } catch (...) {
      results_->fail(std::current_exception());
      throw;
    }
  }

  std::shared_ptr<DecoderSource> decoders_;  // none: new ones of the model's files
  SpeechTranscriberRef transcriber_;
  std::shared_ptr<ResultsSequence> results_;
  TextStage text_;  // used by the pool's delivery, under its lock
  AnalyzerModel model_;
  unsigned threads_;
  std::unique_ptr<DecoderPool> pool_;
};

}  // namespace

unsigned recognitionThreads(std::optional<unsigned> requested, unsigned hardwareThreads,
                            uint64_t memory) {
  const uint64_t budget = std::min(memory / 4, kDecoderBudgetCap);
  const auto withinBudget = static_cast<unsigned>(
      std::clamp<uint64_t>(budget / kBytesPerDecoder, 1, kMostDecoderThreads));
  const unsigned wanted = requested.value_or(std::max(1u, hardwareThreads));
  return std::clamp(wanted, 1u, withinBudget);
}

std::unique_ptr<SpeechAnalyzer> makeRecognitionAnalyzer(SpeechTranscriberRef transcriber,
                                                        AnalyzerModel model, unsigned threads) {
  return std::make_unique<RecognitionAnalyzer>(std::move(transcriber), std::move(model), nullptr,
                                               threads);
}

std::unique_ptr<SpeechAnalyzer> makeRecognitionAnalyzer(SpeechTranscriberRef transcriber,
                                                        AnalyzerModel model,
                                                        std::shared_ptr<DecoderSource> decoders,
                                                        unsigned threads) {
  return std::make_unique<RecognitionAnalyzer>(std::move(transcriber), std::move(model),
                                               std::move(decoders), threads);
}

}  // namespace ondevice::platform
