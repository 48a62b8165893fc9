// Extraction of model archives and their checksums: every supported format and layout, every
// kind of hostile entry refused without a byte written outside the extraction directory, size
// limits, failed writes, and links that would leave a directory once it is moved.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

#include "engine/platform/asset_store_layout.h"
#include "engine/platform/module/assets/archive_extractor.h"
#include "engine/platform/module/assets/archive_fault.h"
#include "engine/platform/module/assets/link_containment.h"
#include "engine/platform/module/assets/sha256.h"
#include "engine/platform/platform_error.h"
#include "tests/support/asset_test_support.h"

namespace ondevice::platform {
namespace {

namespace assets = ondevice::testing::assets;
namespace fs = std::filesystem;

const SizeLimit kNoLimit{UINT64_MAX, "no limit"};

// Runs `extract` expecting a PlatformError; answers its description.
template <typename Extract>
std::string failureOf(Extract extract) {
  try {
    extract();
  } catch (const PlatformError& error) {
    return error.what();
  }
  return "(no failure)";
}

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
    extractArchive(archive, destination_, "The archive", kNoLimit);
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
      extractArchive(archive, destination_, "The archive of the assets for en_US", kNoLimit);
      ADD_FAILURE() << "extracted";
    } catch (const ArchiveFault& error) {
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
    extractArchive(archive, destination_, "The archive of the assets for en_US", kNoLimit);
    ADD_FAILURE() << "extracted";
  } catch (const PlatformError& error) {
    EXPECT_TRUE(std::string(error.what())
                    .starts_with("The archive of the assets for en_US cannot be extracted: "))
        << error.what();
  }
}

// The headers are measured before anything is written; the same limit holds again for what the
// extraction actually writes, in case a format leaves sizes open or states them wrongly.
TEST_F(AssetArchiveTest, ContentsBeyondTheLimitAreRefused) {
  const auto archive = scratch_.path() / "archive.tar.gz";
  assets::makeModelArchive(model_, archive, "tar.gz");
  const std::uint64_t total = std::string("mdef bytes").size() + std::string("lm bytes").size() +
                              std::string("hello HH AH L OW\n").size();
  const ArchiveContents contents = measureArchive(archive, {total, "exactly"}, "The archive");
  EXPECT_EQ(contents.bytes, total);
  EXPECT_EQ(contents.entries, 4u);  // en-us/ and three files

  const SizeLimit tight{total - 1, "the catalog's installedSize"};
  const std::string refused = "The archive is refused: its contents exceed " +
                              std::to_string(total - 1) + " bytes (the catalog's installedSize)";
  EXPECT_EQ(failureOf([&] { measureArchive(archive, tight, "The archive"); }), refused);
  EXPECT_EQ(failureOf([&] { extractArchive(archive, destination_, "The archive", tight); }),
            refused);

  const auto bomb = scratch_.path() / "archive-bomb.tar.gz";
  assets::makeHostileArchive("bomb", bomb);
  const SizeLimit twenty{20 * assets::fileSize(bomb), "20 times the archive's size"};
  EXPECT_TRUE(failureOf([&] {
                measureArchive(bomb, twenty, "The archive");
              }).starts_with("The archive is refused: its contents exceed "));
}

// libarchive reports a failed write(2) as a warning and then restores the file's length with
// ftruncate, which a full tmpfs still allows: the file would hold zeros where the write failed.
TEST_F(AssetArchiveTest, AFailedWriteFailsTheExtraction) {
  std::string noise(256 * 1024, '\0');
  std::mt19937 random(11);
  for (char& c : noise) c = static_cast<char>(random());
  assets::writeText(model_ / "en-us.lm.bin", noise);
  const auto archive = scratch_.path() / "archive.tar.gz";
  assets::makeModelArchive(model_, archive, "tar.gz");

  const fs::path small = scratch_.path() / "store" / "small";
  assets::TemporaryMount mount(small, "size=64k");
  if (!mount.mounted()) GTEST_SKIP() << "cannot mount a small file system here";
  const std::string failure =
      failureOf([&] { extractArchive(archive, small, "The archive", kNoLimit); });
  EXPECT_TRUE(failure.starts_with("The archive cannot be extracted: ")) << failure;
  EXPECT_NE(failure.find("No space left on device"), std::string::npos) << failure;
}

// Links are judged by where they lead from the directory that is kept, wherever it is moved.
TEST_F(AssetArchiveTest, LinksMustStayInsideTheDirectoryThatIsKept) {
  const struct {
    const char* link;
    const char* target;
    bool staysInside;
  } cases[] = {
      {"lm", "en-us.lm.bin", true},
      {"en-us/dict", "../cmudict-en-us.dict", true},
      {"here", ".", true},
      {"dangling", "missing/file", true},
      {"up", "..", false},
      {"lock", "../en_US.lock", false},
      {"en-us/other-locale", "../../de_DE", false},
      {"back-in", "../model/en-us.lm.bin", false},  // the same file only while it is "model"
      {"through-here", "here/../x", false},
      {"absolute", "/etc/passwd", false},
      {"loop", "loop/x", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link);
    fs::create_symlink(c.target, model_ / c.link);
    const std::string failure =
        failureOf([&] { refuseLinksLeaving(model_, "The archive", "the model directory"); });
    if (c.staysInside) {
      EXPECT_EQ(failure, "(no failure)");
    } else {
      EXPECT_EQ(failure, "The archive is refused: link \"" + std::string(c.link) +
                             "\" leaves the model directory");
      fs::remove(model_ / c.link);
    }
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
