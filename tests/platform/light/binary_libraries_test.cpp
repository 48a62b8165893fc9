// The binary links only the C and C++ runtimes: every other library (audio, recognition,
// download) belongs to the speech module, which the binary opens only when a command needs it,
// so that `version` and `is-available` cost no more than starting a small program. A new
// dependency of the binary fails here rather than slowing every call silently.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "base/regular_file.h"
#include "platform/light/elf_object.h"
#include "tests/support/process.h"

namespace ondevice::platform {
namespace {

using ::testing::AnyOf;
using ::testing::Each;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

TEST(Binary, NeedsOnlyTheRuntimeLibraries) {
  const RegularFile binary = RegularFile::open(testing::binaryPath().c_str());
  ASSERT_EQ(binary.refusal(), RegularFile::Refusal::none) << testing::binaryPath();
  const auto needs = readLibraryNeeds(binary);
  ASSERT_TRUE(needs.has_value());
  EXPECT_THAT(needs->needed, Not(IsEmpty()));
  EXPECT_THAT(needs->needed, Each(AnyOf(StartsWith("libc.so."), StartsWith("libm.so."),
                                        StartsWith("libstdc++.so."), StartsWith("libgcc_s.so."),
                                        StartsWith("ld-linux"),
                                        // A sanitizer's runtime, in the builds that have one.
                                        StartsWith("libasan.so."), StartsWith("libubsan.so."),
                                        StartsWith("libtsan.so."))));
}

}  // namespace
}  // namespace ondevice::platform
