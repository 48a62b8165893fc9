#pragma once
// How many decoders the service runs at once, across all its requests: one per core (as the
// memory budget allows), so that many hosts at once share the machine's cores instead of
// crowding them. A request waits for its first decoder in arrival order, and only a bounded
// number wait: past that the request is told to work in-process. A request takes a further
// decoder only when one is free and nobody waits.
//
//   DecodeSlots slots(2, 64);
//   if (!slots.acquireFirst([&] { sayStillQueued(); })) replyBusy();
//   ...
//   if (slots.tryAcquireFurther()) ...   // a second decoder for the same request
//   slots.release();                     // once for every slot taken
//
// Thread-safe.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace ondevice::platform {

class DecodeSlots {
 public:
  DecodeSlots(unsigned capacity, unsigned mostWaiting)
      : capacity_(capacity), mostWaiting_(mostWaiting) {}

  unsigned capacity() const { return capacity_; }

  // Waits for a slot, calling `stillWaiting` about every second meanwhile (it may throw, which
  // gives up the wait); false at once when mostWaiting requests wait already.
  bool acquireFirst(const std::function<void()>& stillWaiting);
  bool tryAcquireFurther();
  void release();
  // Requests waiting for their first decoder now.
  size_t waiting();

 private:
  const unsigned capacity_;
  const unsigned mostWaiting_;
  std::mutex mutex_;
  std::condition_variable freed_;
  unsigned inUse_ = 0;
  std::deque<uint64_t> waiting_;  // tickets of the waiting requests, in arrival order
  uint64_t nextTicket_ = 0;
};

}  // namespace ondevice::platform
