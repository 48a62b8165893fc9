// The service's decode slots: requests get their first decoder in arrival order, at most the
// bound wait (others are busy), a further decoder goes only to a request when nobody waits, and
// a request that gives up its wait leaves the queue to the ones behind it.

#include "platform/module/service/decode_slots.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace ondevice::platform {
namespace {

using ::testing::ElementsAre;

// Waits until `condition` holds, giving up after ten seconds.
template <typename Condition>
bool eventually(Condition condition) {
  for (int i = 0; i < 1000 && !condition(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

TEST(DecodeSlots, ServeInArrivalOrderAndTurnAwayPastTheBound) {
  DecodeSlots slots(1, 2);
  ASSERT_TRUE(slots.acquireFirst([] {}));
  std::mutex mutex;
  std::vector<int> served;
  const auto request = [&](int number) {
    return std::async(std::launch::async, [&, number] {
      const bool got = slots.acquireFirst([] {});
      const std::lock_guard lock(mutex);
      served.push_back(number);
      return got;
    });
  };
  auto first = request(1);
  ASSERT_TRUE(eventually([&] { return slots.waiting() == 1; }));
  auto second = request(2);
  ASSERT_TRUE(eventually([&] { return slots.waiting() == 2; }));
  EXPECT_FALSE(slots.acquireFirst([] {}));  // two wait already: busy
  EXPECT_FALSE(slots.tryAcquireFurther());  // nobody takes a second decoder while others wait
  slots.release();
  EXPECT_TRUE(first.get());
  slots.release();
  EXPECT_TRUE(second.get());
  EXPECT_THAT(served, ElementsAre(1, 2));
  slots.release();
  EXPECT_TRUE(slots.tryAcquireFurther());  // free, and nobody waits
  slots.release();
}

TEST(DecodeSlots, AWaitGivenUpLeavesTheQueueToTheOnesBehind) {
  DecodeSlots slots(1, 4);
  ASSERT_TRUE(slots.acquireFirst([] {}));
  auto givingUp = std::async(std::launch::async, [&] {
    return slots.acquireFirst([] { throw std::runtime_error("the client has gone"); });
  });
  EXPECT_THROW(givingUp.get(), std::runtime_error);  // after its first second of waiting
  auto behind = std::async(std::launch::async, [&] { return slots.acquireFirst([] {}); });
  slots.release();
  EXPECT_TRUE(behind.get());
  slots.release();
}

}  // namespace
}  // namespace ondevice::platform
