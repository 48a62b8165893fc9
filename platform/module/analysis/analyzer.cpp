#include "platform/module/analysis/analyzer.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "base/memory_limits.h"
#include "platform/api/platform_error.h"
#include "platform/module/adaptation/speaker_adaptation.h"
#include "platform/module/analysis/text_stage.h"
#include "platform/module/audio/noise_gate.h"
#include "platform/module/audio/voice_activity_detector.h"
#include "platform/module/decoding/decoder_pool.h"
#include "platform/module/decoding/pocketsphinx_decoder.h"
#include "platform/module/decoding/reused_decoders.h"
#include "platform/module/model/model_file_check.h"

namespace ondevice::platform {
namespace {

// What one decoder with the en-us model holds (measured: about 100 MB resident), and what all
// decoders together may take: at most a quarter of the memory, and never more than 1 GiB.
constexpr uint64_t kBytesPerDecoder = 110ull << 20;
constexpr uint64_t kDecoderBudgetCap = 1ull << 30;

// The audio held for a second, adapted decoding: up to 15 minutes (29 MB). A longer recording's
// results go to the text stage as they come, from the first decoding alone.
constexpr int64_t kMostHeldSamples = 15 * 60 * int64_t{kRecognitionSampleRate};

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

      // Kept by the analysis between its decodings, and given back to their source at its end.
      reused_ = std::make_shared<ReusedDecoders>(
          decoders_ ? decoders_ : std::make_shared<FreshDecoders>(*model_.files));
      pool_ = std::make_unique<DecoderPool>(
          reused_, threads_,
          [this](RecognisedUtterance recognised) { firstDecoded(std::move(recognised)); },
          model_.notes);
      NoiseGate gate;
      VoiceActivityDetector detector;
      const auto decode = [this](Utterance utterance) {
        hold(utterance);
        pool_->submit(std::move(utterance));
      };
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
      heardNoise_ = gate.heardNoise();
      return file.lastSampleTime();
    } catch (...) {
      abandon(std::current_exception());
    }
  }

  void finalizeAndFinish(MediaTime /*through*/) override {
    // Every utterance lies before the last sample time, so all of them are finalized.
    try {
      if (pool_) {
        pool_->drain();
        finishHeld();
      }
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
  // Keeps a copy of each utterance for a second decoding, until the recording grows too long
  // for one: then what was held goes on to the text stage, and from there on every result.
  void hold(const Utterance& utterance) {
    const std::lock_guard lock(held_);
    if (!holding_) return;
    heldSamples_ += static_cast<int64_t>(utterance.samples.size());
    if (heldSamples_ > kMostHeldSamples) {
      holding_ = false;
      heldUtterances_.clear();
      for (auto& recognised : firstPass_) results_->deliver(text_.write(std::move(recognised)));
      firstPass_.clear();
      return;
    }
    heldUtterances_.push_back(utterance);
  }

  // Called by the pool, in the order of the utterances.
  void firstDecoded(RecognisedUtterance recognised) {
    const std::lock_guard lock(held_);
    if (holding_) {
      firstPass_.push_back(std::move(recognised));
    } else {
      results_->deliver(text_.write(std::move(recognised)));
    }
  }

  // Once the first decoding is complete: where it fits the audio poorly, the recording is
  // decoded again with the model's means moved towards it, on the same reading of the spectrum;
  // the results of whichever decoding is kept go to the text stage.
  void finishHeld() {
    std::vector<RecognisedUtterance> results;
    {
      const std::lock_guard lock(held_);
      if (!holding_) return;
      holding_ = false;
      results = std::move(firstPass_);
    }
    if (const auto warp = pool_->frequencyWarp(); warp && secondPassPays(results, heardNoise_)) {
      try {
        if (auto adapted = decodeAdapted(*warp, results)) results = std::move(*adapted);
      } catch (const PlatformError&) {
        // A second decoding that cannot be made (the features not read again, a decoder that
        // takes no transform) leaves the first.
      }
    }
    heldUtterances_.clear();
    for (auto& recognised : results) results_->deliver(text_.write(std::move(recognised)));
  }

  // The second decoding, or none when no transform can be learnt.
  std::optional<std::vector<RecognisedUtterance>> decodeAdapted(
      FrequencyWarp warp, const std::vector<RecognisedUtterance>& firstPass) {
    auto transform = estimateMeanTransform(*model_.files, warp, heldUtterances_, firstPass);
    if (!transform) return std::nullopt;
    std::vector<RecognisedUtterance> adapted;
    pool_.reset();  // its decoders kept, for the second decoding
    // Where decoders are loaded for the analysis, no more than the first decoding had.
    const unsigned threads =
        reused_->keepsDecodersWarm() ? threads_ : std::max(1u, reused_->kept());
    pool_ = std::make_unique<DecoderPool>(
        reused_, threads,
        [&adapted](RecognisedUtterance recognised) { adapted.push_back(std::move(recognised)); },
        model_.notes,
        DecodingPass{warp, std::make_shared<const MeanTransform>(std::move(*transform))});
    for (Utterance& utterance : heldUtterances_) pool_->submit(std::move(utterance));
    pool_->drain();
    return adapted;
  }

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
  std::shared_ptr<ReusedDecoders> reused_;
  std::unique_ptr<DecoderPool> pool_;  // destroyed before reused_: it gives its decoders back
  bool heardNoise_ = false;            // the noise gate found a noisy stretch
  std::mutex held_;  // over what follows, which the pool's workers reach through firstDecoded()
  bool holding_ = true;
  int64_t heldSamples_ = 0;
  std::vector<Utterance> heldUtterances_;
  std::vector<RecognisedUtterance> firstPass_;
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
