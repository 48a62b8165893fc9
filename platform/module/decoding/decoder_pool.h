#pragma once
// Worker threads that decode utterances, one decoder each, with the VTLN warp chosen on the
// first utterances (vtln_probe.h) and the results handed out in the order the utterances were
// submitted, whatever thread finishes first (ordered_delivery.h).
//
//   DecoderPool pool(std::make_shared<FreshDecoders>(files), 2,
//                    [&](RecognisedUtterance u) { results.deliver(u.result); });
//   pool.submit(std::move(utterance));   // waits while too much is in flight
//   pool.drain();                        // every submitted utterance handed out
//
// One worker starts with the first utterance and acquires its decoder on its own thread from
// the pool's source (utterance_decoder.h); more start only once the stream has carried enough
// audio to repay a decoder's load, so that a short file never pays for more than one. Only a
// first decoder that cannot be had fails the run: when a further one cannot (memory runs
// short), the workers that have one carry on. Only a bounded number of utterances is in
// flight, so memory does not grow with the length of the file. The pool never waits on the
// receiver of the results: `deliver` must not block. Utterances after the probe wait for its
// choice; the probe's own two decodings of each of its utterances go first.

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

#include "platform/api/results_sequence.h"
#include "platform/contract/speech_module.h"
#include "platform/module/decoding/ordered_delivery.h"
#include "platform/module/decoding/utterance_decoder.h"
#include "platform/module/decoding/vtln_probe.h"
#include "platform/module/format/recognition_format.h"
#include "platform/module/format/utterance.h"
#include "platform/module/text/spoken_segment.h"

namespace ondevice::platform {

// A decoded utterance as the pool hands it out: its result, and its words as spoken with the
// facts the text stage reads (text/spoken_segment.h).
struct RecognisedUtterance {
  TranscriptionResult result;
  SpokenSegment spoken;
  // What speaker adaptation reads of the decoding: which utterance of the stream it was (from 0,
  // in the order submitted), its words' pronunciations and frames, and the path's acoustic
  // score over its frames.
  int64_t sequence = 0;
  std::vector<RecognisedSpeech::AlignedWord> alignment;
  int64_t acousticScore = 0;
  int64_t pathFrames = 0;
};

// How a pool decodes, past its defaults: a reading of the spectrum fixed in advance (no probe),
// and a transform of the means every decoder takes for the run and is cleared of after it.
struct DecodingPass {
  std::optional<FrequencyWarp> warp;
  std::shared_ptr<const MeanTransform> transform;
};

class DecoderPool {
 public:
  using Deliver = std::function<void(RecognisedUtterance)>;

  // Audio the stream must have carried before a second decoder starts, and each further one:
  // a decoder's load costs about as much as decoding 10 s of speech, and two decoders sharing
  // a core decode only 1.4 times as fast as one, so more decoders repay their load on long
  // files only.
  static constexpr int64_t kSamplesPerExtraDecoder = 45 * int64_t{kRecognitionSampleRate};

  // Utterances in flight with `decoders` decoders: each decoder busy, one utterance waiting for
  // each, and a few finished ones waiting for an earlier one to be handed out first.
  static constexpr int64_t maxInFlight(unsigned decoders) { return 2 * int64_t{decoders} + 2; }

  // Each worker notes what it does through `notes`, when given: loading its model, then
  // decoding, then nothing once it ends. The pool keeps the texts for as long as its workers run.
  DecoderPool(std::shared_ptr<DecoderSource> decoders, unsigned maxDecoders, Deliver deliver,
              RecogniserNotes notes = {}, DecodingPass pass = {});
  // Stops the workers after the utterance each is decoding, joins them and gives their decoders
  // back to the source.
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
  // Workers that got a decoder so far.
  unsigned decodersAcquired() const;
  // The reading of the spectrum the run chose (or was given); none before the probe chose.
  std::optional<FrequencyWarp> frequencyWarp() const;

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
  // Null when a further decoder cannot be had: the others carry on without it.
  std::unique_ptr<UtteranceDecoder> acquireDecoder();
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

  const std::shared_ptr<DecoderSource> decoders_;
  const unsigned maxDecoders_;
  const int64_t maxInFlight_;
  const bool warm_;
  const RecogniserNotes notes_;
  const std::shared_ptr<const MeanTransform> transform_;  // the run's, when it has one

  mutable std::mutex mutex_;
  std::condition_variable workAvailable_;
  std::condition_variable progress_;
  std::deque<Job> queue_;
  OrderedDelivery<RecognisedUtterance> delivery_;
  int64_t submitted_ = 0;
  int64_t submittedSamples_ = 0;
  unsigned idleWorkers_ = 0;
  unsigned decodersAcquired_ = 0;
  unsigned decodersAcquiring_ = 0;
  bool stopping_ = false;
  std::exception_ptr failure_;
  std::vector<std::thread> workers_;

  // The probe: which utterances are in it, their decodings, and the choice once made.
  VtlnProbe probe_;
  int64_t probeDecodingsLeft_ = 0;
  std::map<int64_t, Probed> probed_;  // by sequence
  std::optional<FrequencyWarp> warp_;
};

// With a single decoder, every utterance of the probe must be in flight at once before a
// submission waits for a result, or the probe never completes.
static_assert(VtlnProbe::kProbeUtterances < DecoderPool::maxInFlight(1));

// The result for a decoded utterance: its words and where they lie in the file, or none when
// the utterance held no words.
std::optional<TranscriptionResult> resultFor(const Utterance& utterance, const std::string& text,
                                             int64_t firstSample, int64_t endSample);
// The same with the words as spoken and why the utterance ended.
std::optional<RecognisedUtterance> recognisedUtterance(const Utterance& utterance,
                                                       RecognisedSpeech speech,
                                                       int64_t sequence = 0);

}  // namespace ondevice::platform
