#pragma once
// The stream of a transcriber's results: a thread-safe queue with one producer (the analyzer)
// and one consumer (the engine's result collector). It keeps every result delivered before the
// consumer asks, hands them over in delivery order, and ends either normally or with an error.
//
//   producer: deliver(r) ... deliver(r); finish();   or   fail(std::make_exception_ptr(e));
//   consumer: while (auto r = results.next()) { ... }   // next() throws the failure
//
// Neither side ever waits for the other to go away: the producer never blocks, and a consumer
// that is abandoned can stay parked in next() until the process ends.

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/api/media_time.h"

namespace ondevice::platform {

// One result of a transcriber: final or not, its text (characters only) and where in the audio
// it lies.
struct TranscriptionResult {
  bool isFinal = false;
  std::string text;
  TimeRange range;
};

class ResultsSequence {
 public:
  void deliver(TranscriptionResult result) {
    {
      std::lock_guard lock(mutex_);
      if (ended_) return;
      pending_.push_back(std::move(result));
    }
    ready_.notify_one();
  }

  // Ends the sequence after the results already delivered.
  void finish() {
    {
      std::lock_guard lock(mutex_);
      if (ended_) return;
      ended_ = true;
    }
    ready_.notify_all();
  }

  // Ends the sequence with an error; results not yet taken are dropped.
  void fail(std::exception_ptr error) {
    {
      std::lock_guard lock(mutex_);
      if (ended_) return;
      ended_ = true;
      failure_ = std::move(error);
      pending_.clear();
    }
    ready_.notify_all();
  }

  // The next result; nullopt once the sequence has ended. Rethrows the failure, if any.
  std::optional<TranscriptionResult> next() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return !pending_.empty() || ended_; });
    if (failure_) std::rethrow_exception(failure_);
    if (pending_.empty()) return std::nullopt;
    TranscriptionResult result = std::move(pending_.front());
    pending_.pop_front();
    return result;
  }

  // Results delivered and not yet taken.
  size_t pendingCount() const {
    std::lock_guard lock(mutex_);
    return pending_.size();
  }

  bool hasEnded() const {
    std::lock_guard lock(mutex_);
    return ended_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<TranscriptionResult> pending_;
  bool ended_ = false;
  std::exception_ptr failure_;
};

}  // namespace ondevice::platform
