#pragma once
// Results that finish in any order, handed out in the order they were submitted: the result of
// submission n goes out once those of 0 .. n-1 have. A submission may finish without a result
// (an utterance that held no words); it still takes its turn.
//
//   OrderedDelivery<TranscriptionResult> delivery([&](TranscriptionResult r) { ... });
//   delivery.finish(1, second);        // held: submission 0 is not out yet
//   delivery.finish(0, std::nullopt);  // 0 had no result; `second` goes out now
//   delivery.handedOut();              // 2
//
// Not thread-safe: its owner serialises the calls (the decoder pool holds its lock).

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <utility>

namespace ondevice::platform {

template <typename Result>
class OrderedDelivery {
 public:
  using Deliver = std::function<void(Result)>;

  explicit OrderedDelivery(Deliver deliver) : deliver_(std::move(deliver)) {}

  // Takes what submission `sequence` finished with (each submission once), and hands out every
  // result whose predecessors are all out.
  void finish(int64_t sequence, std::optional<Result> result) {
    finished_.emplace(sequence, std::move(result));
    for (auto next = finished_.begin(); next != finished_.end() && next->first == handedOut_;
         next = finished_.erase(next)) {
      if (next->second) deliver_(std::move(*next->second));
      ++handedOut_;
    }
  }

  // How many submissions are out: those numbered 0 .. handedOut() - 1.
  int64_t handedOut() const { return handedOut_; }

 private:
  Deliver deliver_;
  std::map<int64_t, std::optional<Result>> finished_;  // waiting for their turn
  int64_t handedOut_ = 0;
};

}  // namespace ondevice::platform
