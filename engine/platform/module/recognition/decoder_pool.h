#pragma once
// Worker threads that decode utterances, one PocketSphinx decoder each, with the reading of the
// voice chosen on the first utterances (voice_probe.h) and the results handed out in the order
// the utterances were submitted, whatever thread finishes first (ordered_delivery.h).
//
//   DecoderPool pool(model, 2, [&](RecognisedUtterance u) { results.deliver(u.result); });
//   pool.submit(std::move(utterance));   // waits while too much is in flight
//   pool.drain();                        // every submitted utterance handed out
//
// One worker starts with the first utterance and loads its decoder on its own thread (model_loader.h);
// more start only once the stream has carried enough audio to repay a decoder's load, so that a
// short file never pays for more than one. Until one load has succeeded, loads run one at a time.
// Only a bounded number of utterances is in flight, so memory does not grow with the length of
// the file. The pool never waits on the receiver of the results: `deliver` must not block.
// Utterances after the probe wait for its choice; the probe's own two decodings of each of its
// utterances go first.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "engine/platform/module/audio/utterance_segmenter.h"
#include "engine/platform/module/recognition/model_loader.h"
#include "engine/platform/module/recognition/ordered_delivery.h"
#include "engine/platform/module/recognition/pocketsphinx_decoder.h"
#include "engine/platform/module/recognition/voice_probe.h"
#include "engine/platform/module/text/spoken_segment.h"
#include "engine/platform/recognition_format.h"
#include "engine/platform/results_sequence.h"
#include "engine/platform/speech_module.h"

namespace ondevice::platform {

// A decoded utterance as the pool hands it out: its result, and its words as spoken with the
// facts the text stage reads (text/spoken_segment.h).
struct RecognisedUtterance {
  TranscriptionResult result;
  SpokenSegment spoken;
};

class DecoderPool {
 public:
  using Deliver = std::function<void(RecognisedUtterance)>;

  // Audio the stream must have carried before a second decoder starts, and each further one:
  // a decoder's load costs about as much as decoding 10 s of speech, and two decoders sharing
  // a core decode only 1.4 times as fast as one, so more decoders repay their load on long
  // files only.
  static constexpr int64_t kSamplesPerExtraDecoder = 45 * int64_t{kRecognitionSampleRate};

  // Each worker notes what it does through `notes`, when given: loading its model, then
  // decoding, then nothing once it ends. The pool keeps the texts for as long as its workers run.
  DecoderPool(std::shared_ptr<ModelLoader> model, unsigned maxDecoders, Deliver deliver,
              RecogniserNotes notes = {});
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
    std::shared_ptr<const Utterance> utterance;
    FrequencyWarp warp = FrequencyWarp::none;
    bool probe = false;  // one of the two decodings of an utterance of the probe
  };
  // An utterance of the probe and its two decodings, as they finish.
  struct Probed {
    std::shared_ptr<const Utterance> utterance;
    std::optional<RecognisedSpeech> plain;
    std::optional<RecognisedSpeech> raised;
  };

  void work();
  std::unique_ptr<PocketSphinxDecoder> loadDecoder();
  void note(const char* activity) const noexcept {
    if (notes_.note != nullptr) notes_.note(activity);
  }
  bool halted() const { return stopping_ || failure_ != nullptr; }
  // Later utterances wait for the choice of the probe.
  bool canTake(const Job& job) const { return job.probe || warp_.has_value(); }
  void fail(std::exception_ptr error);
  void complete(const Job& job, RecognisedSpeech speech);
  // These three with the mutex held. No utterance joins the probe after closeProbe(); the choice
  // is made once it is closed and its decodings are in.
  void closeProbe();
  void chooseWhenProbed();
  void startWorkers(size_t jobs);

  const std::shared_ptr<ModelLoader> model_;
  const unsigned maxDecoders_;
  const int64_t maxInFlight_;
  const RecogniserNotes notes_;

  std::mutex firstLoad_;
  std::atomic<bool> modelLoaded_{false};

  std::mutex mutex_;
  std::condition_variable workAvailable_;
  std::condition_variable progress_;
  std::deque<Job> queue_;
  OrderedDelivery<RecognisedUtterance> delivery_;
  int64_t submitted_ = 0;
  int64_t submittedSamples_ = 0;
  unsigned idleWorkers_ = 0;
  bool stopping_ = false;
  std::exception_ptr failure_;
  std::vector<std::thread> workers_;

  // The probe: which utterances are in it, their decodings, and the choice once made.
  VoiceProbe probe_;
  int64_t probeDecodingsLeft_ = 0;
  std::map<int64_t, Probed> probed_;  // by sequence
  std::optional<FrequencyWarp> warp_;
};

// The result for a decoded utterance: its words and where they lie in the file, or none when
// the utterance held no words.
std::optional<TranscriptionResult> resultFor(const Utterance& utterance, const std::string& text,
                                             int64_t firstSample, int64_t endSample);
// The same with the words as spoken and why the utterance ended.
std::optional<RecognisedUtterance> recognisedUtterance(const Utterance& utterance,
                                                       RecognisedSpeech speech);

}  // namespace ondevice::platform
