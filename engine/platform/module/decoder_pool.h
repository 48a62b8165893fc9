#pragma once
// Worker threads that decode utterances, one PocketSphinx decoder each, and hand the results
// out in the order the utterances were submitted, whatever thread finishes first.
//
//   DecoderPool pool(model, 2, [&](TranscriptionResult r) { results.deliver(std::move(r)); });
//   pool.submit(std::move(utterance));   // waits while too much is in flight
//   pool.drain();                        // every submitted utterance handed out
//
// Workers start on demand (a short file never pays for loading decoders it does not need) and
// load their decoder on their own thread. Only a bounded number of utterances is in flight, so
// memory does not grow with the length of the file. The pool never waits on the receiver of the
// results: `deliver` must not block.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "engine/platform/module/utterance_segmenter.h"
#include "engine/platform/results_sequence.h"
#include "engine/platform/speech_module.h"

namespace ondevice::platform {

class DecoderPool {
 public:
  using Deliver = std::function<void(TranscriptionResult)>;

  // Each worker notes its stage through `noteStage`, when given: loading its model, then
  // decoding, then none once it ends.
  DecoderPool(ModelFiles model, unsigned maxDecoders, Deliver deliver,
              RecogniserStageNote noteStage = nullptr);
  // Stops the workers after the utterance each is decoding and joins them.
  ~DecoderPool();
  DecoderPool(const DecoderPool&) = delete;
  DecoderPool& operator=(const DecoderPool&) = delete;

  // Queues an utterance. Rethrows the first decoding failure; throws PlatformError once stopped.
  void submit(Utterance utterance);
  // Waits until every submitted utterance has been handed out; rethrows the first failure.
  void drain();
  // Drops the queued utterances; nothing more is handed out.
  void stop() noexcept;

  unsigned maxDecoders() const { return maxDecoders_; }

 private:
  struct Job {
    int64_t sequence = 0;
    Utterance utterance;
  };

  void work();
  void note(RecogniserStage stage) const noexcept {
    if (noteStage_ != nullptr) noteStage_(stage);
  }
  bool halted() const { return stopping_ || failure_ != nullptr; }
  void fail(std::exception_ptr error);
  void complete(int64_t sequence, std::optional<TranscriptionResult> result);

  const ModelFiles model_;
  const unsigned maxDecoders_;
  const int64_t maxInFlight_;
  const Deliver deliver_;
  const RecogniserStageNote noteStage_;

  std::mutex mutex_;
  std::condition_variable workAvailable_;
  std::condition_variable progress_;
  std::deque<Job> queue_;
  std::map<int64_t, std::optional<TranscriptionResult>> finished_;  // waiting for their turn
  int64_t submitted_ = 0;
  int64_t handedOut_ = 0;
  unsigned idleWorkers_ = 0;
  bool stopping_ = false;
  std::exception_ptr failure_;
  std::vector<std::thread> workers_;
};

// The result for a decoded utterance: its words and where they lie in the file, or none when
// the utterance held no words.
std::optional<TranscriptionResult> resultFor(const Utterance& utterance, const std::string& text,
                                             int64_t firstSample, int64_t endSample);

}  // namespace ondevice::platform
