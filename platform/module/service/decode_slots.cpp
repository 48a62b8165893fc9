#include "platform/module/service/decode_slots.h"

#include <algorithm>

namespace ondevice::platform {

bool DecodeSlots::acquireFirst(const std::function<void()>& stillWaiting) {
  std::unique_lock lock(mutex_);
  if (waiting_.size() >= mostWaiting_) return false;
  const uint64_t ticket = nextTicket_++;
  waiting_.push_back(ticket);
  // However the wait ends, the ticket leaves the queue and the one behind it may go.
  struct Leave {
    DecodeSlots& slots;
    uint64_t ticket;
    ~Leave() {
      std::erase(slots.waiting_, ticket);
      slots.freed_.notify_all();
    }
  } const leave{*this, ticket};
  auto beat = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (waiting_.front() != ticket || inUse_ >= capacity_) {
    if (freed_.wait_until(lock, beat) == std::cv_status::timeout) {
      lock.unlock();
      try {
        stillWaiting();
      } catch (...) {
        lock.lock();  // the wait is given up; the ticket leaves the queue under the lock
        throw;
      }
      lock.lock();
      beat = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    }
  }
  ++inUse_;
  return true;
}

bool DecodeSlots::tryAcquireFurther() {
  const std::lock_guard lock(mutex_);
  if (!waiting_.empty() || inUse_ >= capacity_) return false;
  ++inUse_;
  return true;
}

size_t DecodeSlots::waiting() {
  const std::lock_guard lock(mutex_);
  return waiting_.size();
}

void DecodeSlots::release() {
  {
    const std::lock_guard lock(mutex_);
    --inUse_;
  }
  freed_.notify_all();
}

}  // namespace ondevice::platform
