// Ordered delivery: results that finish in any order go out in submission order, each as soon
// as everything before it is out, and a submission without a result still takes its turn.

#include "platform/module/decoding/ordered_delivery.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ondevice::platform {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class FinishingOrder : public ::testing::TestWithParam<std::vector<int64_t>> {};

TEST_P(FinishingOrder, HandsOutInSubmissionOrderAsSoonAsThePredecessorsAreOut) {
  std::vector<int64_t> delivered;
  OrderedDelivery<int64_t> delivery([&](int64_t result) { delivered.push_back(result); });
  std::vector<bool> finished(GetParam().size(), false);
  for (const int64_t sequence : GetParam()) {
    delivery.finish(sequence, sequence);
    finished[static_cast<size_t>(sequence)] = true;
    // Out: exactly the unbroken run of finished submissions from the first.
    int64_t run = 0;
    while (run < static_cast<int64_t>(finished.size()) && finished[static_cast<size_t>(run)]) ++run;
    EXPECT_EQ(delivery.handedOut(), run);
    EXPECT_EQ(static_cast<int64_t>(delivered.size()), run);
  }
  EXPECT_THAT(delivered, ElementsAre(0, 1, 2, 3));
}

INSTANTIATE_TEST_SUITE_P(Orders, FinishingOrder,
                         ::testing::Values(std::vector<int64_t>{0, 1, 2, 3},
                                           std::vector<int64_t>{3, 2, 1, 0},
                                           std::vector<int64_t>{1, 3, 0, 2},
                                           std::vector<int64_t>{2, 0, 3, 1}));

TEST(OrderedDelivery, ASubmissionWithoutAResultStillTakesItsTurn) {
  std::vector<std::string> delivered;
  OrderedDelivery<std::string> delivery([&](std::string text) { delivered.push_back(text); });
  delivery.finish(1, "second");
  EXPECT_THAT(delivered, IsEmpty());
  delivery.finish(0, std::nullopt);
  EXPECT_THAT(delivered, ElementsAre("second"));
  EXPECT_EQ(delivery.handedOut(), 2);
}

}  // namespace
}  // namespace ondevice::platform
