// Writing the marker durably: the temporary file it goes through is always a new one, so that a
// name left in its place (by an archive's hard link, say) never has its data written through.

#include "base/durable_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "tests/support/case_name.h"
#include "tests/support/files.h"

namespace ondevice {
namespace {

namespace fs = std::filesystem;
using ondevice::testing::namedBy;
using ondevice::testing::readText;
using ondevice::testing::writeText;

struct LeftInPlace {
  std::string name;
  std::function<void(const fs::path& other, const fs::path& temporary)> make;
};

class DurableFile : public ::testing::TestWithParam<LeftInPlace> {};

TEST_P(DurableFile, NeverWritesThroughWhatBearsTheTemporaryName) {
  ondevice::testing::ScratchDirectory scratch;
  const fs::path other = scratch.path() / "model-part";
  writeText(other, "the model's own bytes");
  const fs::path marker = scratch.path() / ".installed";
  GetParam().make(other, marker.string() + ".tmp");
  writeFileDurably(marker, "checksum\n");
  EXPECT_EQ(readText(marker), "checksum\n");
  EXPECT_EQ(readText(other), "the model's own bytes");
  EXPECT_FALSE(fs::exists(marker.string() + ".tmp"));
}

const LeftInPlace kLeftInPlace[] = {
    {"hard link", [](const fs::path& other, const fs::path& t) { fs::create_hard_link(other, t); }},
    {"symbolic link",
     [](const fs::path& other, const fs::path& t) { fs::create_symlink(other, t); }},
};
INSTANTIATE_TEST_SUITE_P(, DurableFile, ::testing::ValuesIn(kLeftInPlace),
                         namedBy<&LeftInPlace::name>);

}  // namespace
}  // namespace ondevice
