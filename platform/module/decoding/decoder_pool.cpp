#include "platform/module/decoding/decoder_pool.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "base/stacks.h"
#include "platform/api/platform_error.h"

namespace ondevice::platform {

std::optional<TranscriptionResult> resultFor(const Utterance& utterance, const std::string& text,
                                             int64_t firstSample, int64_t endSample) {
  if (text.empty()) return std::nullopt;
  const auto length = static_cast<int64_t>(utterance.samples.size());
  int64_t first = std::clamp<int64_t>(firstSample, 0, length);
  int64_t end = std::clamp<int64_t>(endSample, first, length);
  if (end <= first) {  // no usable word times: the whole utterance
    first = 0;
    end = length;
  }
  TranscriptionResult result;
  result.isFinal = true;
  result.text = text;
  result.range = TimeRange{MediaTime{utterance.startSample + first, kRecognitionSampleRate},
                           MediaTime{end - first, kRecognitionSampleRate}};
  return result;
}

std::optional<RecognisedUtterance> recognisedUtterance(const Utterance& utterance,
                                                       RecognisedSpeech speech, int64_t sequence) {
  auto result = resultFor(utterance, speech.text, speech.firstSample, speech.endSample);
  if (!result) return std::nullopt;
  return RecognisedUtterance{std::move(*result),
                             SpokenSegment{std::move(speech.words), utterance.end},
                             sequence,
                             std::move(speech.alignment),
                             speech.acousticScore,
                             speech.pathFrames};
}

DecoderPool::DecoderPool(std::shared_ptr<DecoderSource> decoders, unsigned maxDecoders,
                         Deliver deliver, RecogniserNotes notes, DecodingPass pass)
    : decoders_(std::move(decoders)),
      maxDecoders_(std::max(1u, maxDecoders)),
      maxInFlight_(maxInFlight(maxDecoders_)),
      warm_(decoders_->keepsDecodersWarm()),
      notes_(std::move(notes)),
      transform_(std::move(pass.transform)),
      delivery_(std::move(deliver)) {
  if (pass.warp) {
    probe_.close();
    warp_ = pass.warp;
  }
}

DecoderPool::~DecoderPool() {
  stop();
  for (auto& worker : workers_) worker.join();
}

void DecoderPool::submit(Utterance utterance) {
  std::unique_lock lock(mutex_);
  progress_.wait(lock,
                 [&] { return halted() || submitted_ - delivery_.handedOut() < maxInFlight_; });
  if (failure_) std::rethrow_exception(failure_);
  if (stopping_) throw PlatformError("The analysis was cancelled");
  const int64_t sequence = submitted_++;
  submittedSamples_ += static_cast<int64_t>(utterance.samples.size());
  auto shared = std::make_shared<const Utterance>(std::move(utterance));
  if (probe_.admit(static_cast<int64_t>(shared->samples.size()))) {
    probeDecodingsLeft_ += 2;
    probed_[sequence].utterance = shared;
    queue_.push_back(Job{sequence, shared, FrequencyWarp::none, true});
    queue_.push_back(Job{sequence, std::move(shared), FrequencyWarp::raised, true});
    startWorkers(2);
  } else {
    queue_.push_back(Job{sequence, std::move(shared), FrequencyWarp::none, false});
    startWorkers(1);
  }
}

void DecoderPool::startWorkers(size_t jobs) {
  // As many as the stream's audio so far repays, at least one; all at once where the source
  // keeps its decoders loaded.
  const auto repaid = static_cast<size_t>(1 + submittedSamples_ / kSamplesPerExtraDecoder);
  const size_t most = warm_ ? maxDecoders_ : std::min<size_t>(maxDecoders_, repaid);
  for (size_t started = idleWorkers_; started < jobs && workers_.size() < most; ++started) {
    workers_.emplace_back([this] { work(); });
  }
  workAvailable_.notify_all();
}

void DecoderPool::drain() {
  std::unique_lock lock(mutex_);
  closeProbe();  // the stream has ended
  progress_.wait(lock, [&] { return halted() || delivery_.handedOut() == submitted_; });
  if (failure_) std::rethrow_exception(failure_);
  if (delivery_.handedOut() != submitted_) throw PlatformError("The analysis was cancelled");
}

void DecoderPool::stop() noexcept {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  workAvailable_.notify_all();
  progress_.notify_all();
}

void DecoderPool::fail(std::exception_ptr error) {
  {
    std::lock_guard lock(mutex_);
    if (!failure_) failure_ = std::move(error);
    queue_.clear();
  }
  workAvailable_.notify_all();
  progress_.notify_all();
}

void DecoderPool::closeProbe() {
  if (!probe_.isOpen()) return;
  probe_.close();
  chooseWhenProbed();
}

void DecoderPool::chooseWhenProbed() {
  if (probe_.isOpen() || probeDecodingsLeft_ > 0 || warp_) return;
  std::vector<ProbeReadings> readings;
  readings.reserve(probed_.size());
  for (const auto& [sequence, probed] : probed_) {
    readings.push_back(ProbeReadings{
        static_cast<int64_t>(probed.utterance->samples.size()) / kRecognitionFrameSamples,
        probed.plain->score, probed.raised->score});
  }
  warp_ = chooseFrequencyWarp(readings);
  for (auto& [sequence, probed] : probed_) {
    RecognisedSpeech& speech = *warp_ == FrequencyWarp::raised ? *probed.raised : *probed.plain;
    delivery_.finish(sequence, recognisedUtterance(*probed.utterance, std::move(speech), sequence));
  }
  probed_.clear();
  // Later utterances wait in the queue for the choice.
  workAvailable_.notify_all();
}

void DecoderPool::complete(const Job& job, RecognisedSpeech speech) {
  {
    std::lock_guard lock(mutex_);
    if (halted()) return;
    if (job.probe) {
      Probed& probed = probed_[job.sequence];
      (job.warp == FrequencyWarp::raised ? probed.raised : probed.plain) = std::move(speech);
      --probeDecodingsLeft_;
      chooseWhenProbed();
    } else {
      delivery_.finish(job.sequence,
                       recognisedUtterance(*job.utterance, std::move(speech), job.sequence));
    }
  }
  progress_.notify_all();
}

std::optional<FrequencyWarp> DecoderPool::frequencyWarp() const {
  std::lock_guard lock(mutex_);
  return warp_;
}

unsigned DecoderPool::decodersAcquired() const {
  std::lock_guard lock(mutex_);
  return decodersAcquired_;
}

std::unique_ptr<UtteranceDecoder> DecoderPool::acquireDecoder() {
  {
    std::lock_guard lock(mutex_);
    ++decodersAcquiring_;
  }
  try {
    auto decoder = decoders_->acquire();
    std::lock_guard lock(mutex_);
    --decodersAcquiring_;
    ++decodersAcquired_;
    return decoder;
  } catch (...) {
    // Workers start side by side and may be answered in any order: a refusal ends the run only
    // when no decoder was had and none is still coming.
    std::unique_lock lock(mutex_);
    const bool none = --decodersAcquiring_ == 0 && decodersAcquired_ == 0;
    lock.unlock();
    if (none) fail(std::current_exception());
    return nullptr;
  }
}

void DecoderPool::work() {
  // The exit guard's fault handler runs here should loading or decoding fault.
  const AlternateSignalStack signalStack;
  // Back to nothing noted however the work ends.
  struct NoteOfThisThread {
    const DecoderPool& pool;
    ~NoteOfThisThread() { pool.note(nullptr); }
  } const noted{*this};
  note(notes_.loadingModel.c_str());
  std::unique_ptr<UtteranceDecoder> decoder = acquireDecoder();
  if (!decoder) return;
  // Given back however the work ends (a source ignores none), cleared of the run's transform: a
  // decoder that cannot be is not given back.
  struct Return {
    DecoderSource& source;
    std::unique_ptr<UtteranceDecoder>& decoder;
    bool adapted = false;
    ~Return() {
      if (adapted && decoder) {
        try {
          decoder->adapt(nullptr);
        } catch (...) {
          decoder.reset();
        }
      }
      source.release(std::move(decoder));
    }
  } giveBack{*decoders_, decoder};
  if (transform_) {
    try {
      giveBack.adapted = true;
      decoder->adapt(transform_.get());
    } catch (...) {
      decoder.reset();
      fail(std::current_exception());
      return;
    }
  }
  note(notes_.decoding.c_str());
  while (true) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      ++idleWorkers_;
      workAvailable_.wait(lock,
                          [&] { return halted() || (!queue_.empty() && canTake(queue_.front())); });
      --idleWorkers_;
      if (halted()) return;
      job = std::move(queue_.front());
      queue_.pop_front();
      if (!job.probe) job.warp = *warp_;  // the probe's choice, made by now
    }
    try {
      complete(job, decoder->decode(job.utterance->samples, job.warp));
    } catch (...) {
      decoder.reset();  // one that failed is not given back
      fail(std::current_exception());
      return;
    }
  }
}

}  // namespace ondevice::platform
