// Extraction of model archives and their checksums: every supported format and layout, and every
// kind of hostile entry refused without a byte written outside the extraction directory.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/platform/asset_store_layout.h"
#include "engine/platform/module/archive_extractor.h"
#include "engine/platform/module/sha256.h"
#include "engine/platform/platform_error.h"
#include "tests/support/asset_test_support.h"

namespace ondevice::platform {
namespace {

namespace assets = ondevice::testing::assets;
namespace fs = std::filesystem;

class AssetArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    model_ = scratch_.path() / "model";
    fs::create_directories(model_ / "en-us");
    assets::writeText(model_ / "en-us" / "mdef", "mdef bytes");
    assets::writeText(model_ / "en-us.lm.bin", "lm bytes");
    assets::writeText(model_ / "cmudict-en-us.dict", "hello HH AH L OW\n");
    // Extraction happens two levels down, so that "../x" and "../../x" both have somewhere to
    // land inside the scratch directory if anything let them through.
    destination_ = scratch_.path() / "store" / "staging";
    fs::create_directories(destination_);
  }

  // Everything in the scratch directory outside the staging directory, the model and the
  // archives the test made.
  std::vector<std::string> strayFiles() const {
    std::vector<std::string> stray;
    for (auto it = fs::recursive_directory_iterator(scratch_.path());
         it != fs::recursive_directory_iterator(); ++it) {
      const fs::path& p = it->path();
      const auto relative = p.lexically_relative(scratch_.path()).string();
      if (relative.starts_with("model") || relative.starts_with("store/staging") ||
          relative == "store" || relative.starts_with("archive")) {
        continue;
      }
      stray.push_back(relative);
    }
    return stray;
  }

  assets::ScratchDirectory scratch_;
  fs::path model_;
  fs::path destination_;
};

TEST_F(AssetArchiveTest, ExtractsEachFormatAndLayout) {
  const struct {
    const char* format;
    const char* top;
  } cases[] = {{"tar.gz", ""}, {"tar.gz", "en-us-5.2"}, {"tar.xz", ""}, {"tar.xz", "model"},
               {"zip", ""},    {"zip", "en-us-5.2"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.format) + " top=" + c.top);
    const auto archive = scratch_.path() / (std::string("archive.") + c.format);
    assets::makeModelArchive(model_, archive, c.format, c.top);
    fs::remove_all(destination_);
    fs::create_directories(destination_);
    extractArchive(archive, destination_, "The archive");
    const fs::path top = destination_ / c.top;
    EXPECT_TRUE(holdsModelParts(top, ModelParts{}));
    EXPECT_EQ(sha256OfFile(top / "en-us" / "mdef"), sha256OfFile(model_ / "en-us" / "mdef"));
    EXPECT_EQ(sha256OfFile(top / "cmudict-en-us.dict"),
              sha256OfFile(model_ / "cmudict-en-us.dict"));
    EXPECT_TRUE(strayFiles().empty());
  }
}

TEST_F(AssetArchiveTest, RefusesEntriesThatLeaveTheDirectory) {
  const std::string absoluteTarget = (scratch_.path() / "absolute-target").string();
  const struct {
    const char* kind;
    const char* format;
    const char* expected;
  } cases[] = {
      {"dotdot", "tar.gz", "entry \"../x\" leaves the extraction directory"},
      {"dotdot", "zip", "leaves the extraction directory"},
      {"absolute", "tar.gz", "leaves the extraction directory"},
      {"absolute", "zip", "leaves the extraction directory"},
      {"symlink-out", "tar.gz", "link \"outside\" -> \"../outside\" leaves"},
      {"symlink-absolute", "tar.gz", "leaves the extraction directory"},
      {"symlink-chain", "tar.gz", "link \"m\" leaves the extraction directory"},
      {"hardlink-out", "tar.gz", "hard link \"x\" points outside"},
      {"device", "tar.gz", "entry \"null\" is a device, FIFO or socket"},
      {"fifo", "tar.gz", "entry \"pipe\" is a device, FIFO or socket"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + " " + c.format);
    const auto archive = scratch_.path() / (std::string("archive-hostile.") + c.format);
    assets::makeHostileArchive(c.kind, archive, c.format, absoluteTarget);
    fs::remove_all(destination_);
    fs::create_directories(destination_);
    try {
      extractArchive(archive, destination_, "The archive of the assets for en_US");
      ADD_FAILURE() << "extracted";
    } catch (const PlatformError& error) {
      const std::string text = error.what();
      EXPECT_TRUE(text.starts_with("The archive of the assets for en_US is refused: ")) << text;
      EXPECT_NE(text.find(c.expected), std::string::npos) << text;
    }
    EXPECT_EQ(strayFiles(), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(absoluteTarget));
  }
}

TEST_F(AssetArchiveTest, NotAnArchiveIsAnErrorWithLibarchivesText) {
  const auto archive = scratch_.path() / "archive.tar.gz";
  assets::writeText(archive, "this is not an archive, just text long enough to be looked at");
  try {
    extractArchive(archive, destination_, "The archive of the assets for en_US");
    ADD_FAILURE() << "extracted";
  } catch (const PlatformError& error) {
    EXPECT_TRUE(std::string(error.what())
                    .starts_with("The archive of the assets for en_US cannot be extracted: "))
        << error.what();
  }
}

TEST(Sha256Test, KnownDigestsAndUnreadableFile) {
  assets::ScratchDirectory scratch;
  const struct {
    std::string content;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::string(200000, 'a'), nullptr},  // spans several reads; compared with sha256sum
  };
  for (const auto& c : cases) {
    const auto file = scratch.path() / "data";
    assets::writeText(file, c.content);
    const std::string expected = c.digest != nullptr ? c.digest : assets::sha256Hex(file);
    EXPECT_EQ(sha256OfFile(file), expected);
  }
  EXPECT_THROW(sha256OfFile(scratch.path() / "missing"), PlatformError);
}

}  // namespace
}  // namespace ondevice::platform
