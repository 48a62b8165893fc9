// Extraction of model archives and their checksums: every supported format and layout, every
// kind of hostile entry refused without a byte written outside the extraction directory, size
// limits, failed writes, and links that would leave a directory once it is moved.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "platform/api/platform_error.h"
#include "platform/contract/asset_store_layout.h"
#include "platform/module/assets/archive_extractor.h"
#include "platform/module/assets/archive_fault.h"
#include "platform/module/assets/link_containment.h"
#include "platform/module/assets/sha256.h"
#include "tests/support/asset_test_support.h"
#include "tests/support/case_name.h"

namespace ondevice::platform {
namespace {

namespace assets = ondevice::testing::assets;
namespace fs = std::filesystem;
using ondevice::testing::caseName;
using ondevice::testing::namedBy;
using ondevice::testing::randomBytes;
using ondevice::testing::ScratchDirectory;
using ondevice::testing::TemporaryMount;
using ondevice::testing::writeText;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

const SizeLimit kNoLimit{UINT64_MAX, "no limit"};

class AssetArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    model_ = scratch_.path() / "model";
    fs::create_directories(model_ / "en-us");
    writeText(model_ / "en-us" / "mdef", "mdef bytes");
    writeText(model_ / "en-us.lm.bin", "lm bytes");
    writeText(model_ / "cmudict-en-us.dict", "hello HH AH L OW\n");
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

  ScratchDirectory scratch_;
  fs::path model_;
  fs::path destination_;
};

struct Layout {
  std::string format;
  std::string top;  // the directory that holds the parts, "" for none
};

class ArchiveLayout : public AssetArchiveTest, public ::testing::WithParamInterface<Layout> {};

TEST_P(ArchiveLayout, IsExtracted) {
  const auto archive = scratch_.path() / ("archive." + GetParam().format);
  assets::makeModelArchive(model_, archive, GetParam().format, GetParam().top);
  extractArchive(archive, destination_, "The archive", kNoLimit);
  const fs::path top = destination_ / GetParam().top;
  EXPECT_TRUE(holdsModelParts(top, ModelParts{}));
  EXPECT_EQ(sha256OfFile(top / "en-us" / "mdef"), sha256OfFile(model_ / "en-us" / "mdef"));
  EXPECT_EQ(sha256OfFile(top / "cmudict-en-us.dict"), sha256OfFile(model_ / "cmudict-en-us.dict"));
  EXPECT_THAT(strayFiles(), IsEmpty());
}

const Layout kLayouts[] = {{"tar.gz", ""}, {"tar.gz", "en-us-5.2"},
                           {"tar.xz", ""}, {"tar.xz", "model"},
                           {"zip", ""},    {"zip", "en-us-5.2"}};
INSTANTIATE_TEST_SUITE_P(, ArchiveLayout, ::testing::ValuesIn(kLayouts), [](const auto& info) {
  return caseName(info.param.format + " top " + info.param.top);
});

struct Hostile {
  std::string kind;
  std::string format;
  std::string expected;
};

class HostileArchive : public AssetArchiveTest, public ::testing::WithParamInterface<Hostile> {};

TEST_P(HostileArchive, IsRefusedWithNothingWrittenOutside) {
  const std::string absoluteTarget = (scratch_.path() / "absolute-target").string();
  const auto archive = scratch_.path() / ("archive-hostile." + GetParam().format);
  assets::makeHostileArchive(GetParam().kind, archive, GetParam().format, absoluteTarget);
  EXPECT_THAT(
      [&] {
        extractArchive(archive, destination_, "The archive of the assets for en_US", kNoLimit);
      },
      ThrowsMessage<ArchiveFault>(
          AllOf(StartsWith("The archive of the assets for en_US is refused: "),
                HasSubstr(GetParam().expected))));
  EXPECT_THAT(strayFiles(), IsEmpty());
  EXPECT_FALSE(fs::exists(absoluteTarget));
}

const Hostile kHostiles[] = {
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
INSTANTIATE_TEST_SUITE_P(, HostileArchive, ::testing::ValuesIn(kHostiles), [](const auto& info) {
  return caseName(info.param.kind + " " + info.param.format);
});

TEST_F(AssetArchiveTest, NotAnArchiveIsAnErrorWithLibarchivesText) {
  const auto archive = scratch_.path() / "archive.tar.gz";
  writeText(archive, "this is not an archive, just text long enough to be looked at");
  EXPECT_THAT(
      [&] {
        extractArchive(archive, destination_, "The archive of the assets for en_US", kNoLimit);
      },
      ThrowsMessage<PlatformError>(
          StartsWith("The archive of the assets for en_US cannot be extracted: ")));
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
  EXPECT_THAT([&] { measureArchive(archive, tight, "The archive"); },
              ThrowsMessage<PlatformError>(StrEq(refused)));
  EXPECT_THAT([&] { extractArchive(archive, destination_, "The archive", tight); },
              ThrowsMessage<PlatformError>(StrEq(refused)));

  const auto bomb = scratch_.path() / "archive-bomb.tar.gz";
  assets::makeHostileArchive("bomb", bomb);
  const SizeLimit twenty{20 * fs::file_size(bomb), "20 times the archive's size"};
  EXPECT_THAT(
      [&] { measureArchive(bomb, twenty, "The archive"); },
      ThrowsMessage<PlatformError>(StartsWith("The archive is refused: its contents exceed ")));
}

// libarchive reports a failed write(2) as a warning and then restores the file's length with
// ftruncate, which a full tmpfs still allows: the file would hold zeros where the write failed.
TEST_F(AssetArchiveTest, AFailedWriteFailsTheExtraction) {
  writeText(model_ / "en-us.lm.bin", randomBytes(256 * 1024, 11));
  const auto archive = scratch_.path() / "archive.tar.gz";
  assets::makeModelArchive(model_, archive, "tar.gz");

  const fs::path small = scratch_.path() / "store" / "small";
  TemporaryMount mount(small, "size=64k");
  if (!mount.mounted()) GTEST_SKIP() << "cannot mount a small file system here";
  EXPECT_THAT([&] { extractArchive(archive, small, "The archive", kNoLimit); },
              ThrowsMessage<PlatformError>(AllOf(StartsWith("The archive cannot be extracted: "),
                                                 HasSubstr("No space left on device"))));
}

struct Link {
  std::string link;
  std::string target;
  bool staysInside;
  std::optional<std::pair<std::string, std::string>> alsoThere = {};  // a link beside it
};

class LinkInModel : public AssetArchiveTest, public ::testing::WithParamInterface<Link> {};

// Links are judged by where they lead from the directory that is kept, wherever it is moved.
TEST_P(LinkInModel, MustStayInsideTheDirectoryThatIsKept) {
  if (const auto& other = GetParam().alsoThere)
    fs::create_symlink(other->second, model_ / other->first);
  fs::create_symlink(GetParam().target, model_ / GetParam().link);
  const auto refuse = [&] { refuseLinksLeaving(model_, "The archive", "the model directory"); };
  if (GetParam().staysInside) {
    EXPECT_NO_THROW(refuse());
  } else {
    EXPECT_THAT(refuse, ThrowsMessage<PlatformError>(StrEq("The archive is refused: link \"" +
                                                           GetParam().link +
                                                           "\" leaves the model directory")));
  }
}

const Link kLinks[] = {
    {"lm", "en-us.lm.bin", true},
    {"en-us/dict", "../cmudict-en-us.dict", true},
    {"here", ".", true},
    {"dangling", "missing/file", true},
    {"up", "..", false},
    {"lock", "../en_US.lock", false},
    {"en-us/other-locale", "../../de_DE", false},
    {"back-in", "../model/en-us.lm.bin", false},  // the same file only while it is "model"
    {"through-here", "here/../x", false, {{"here", "."}}},
    {"absolute", "/etc/passwd", false},
    {"loop", "loop/x", false},
};
INSTANTIATE_TEST_SUITE_P(, LinkInModel, ::testing::ValuesIn(kLinks), namedBy<&Link::link>);

TEST(Sha256Test, KnownDigestsAndUnreadableFile) {
  ScratchDirectory scratch;
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
    writeText(file, c.content);
    const std::string expected = c.digest != nullptr ? c.digest : assets::sha256Hex(file);
    EXPECT_EQ(sha256OfFile(file), expected);
  }
  EXPECT_THROW(sha256OfFile(scratch.path() / "missing"), PlatformError);
}

}  // namespace
}  // namespace ondevice::platform
