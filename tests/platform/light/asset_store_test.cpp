// The asset store: where it is, the four statuses, installed model paths, and requests.

#include "platform/light/asset_store.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/api/platform_error.h"
#include "platform/light/settings.h"
#include "tests/support/case_name.h"
#include "tests/support/environment_scope.h"
#include "tests/support/files.h"

namespace ondevice::platform {
namespace {

namespace fs = std::filesystem;
using ondevice::testing::caseName;
using ondevice::testing::EnvironmentScope;
using ondevice::testing::namedBy;
using ondevice::testing::writeText;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

struct Location {
  const char* assets;  // nullptr: unset
  const char* xdg;
  const char* home;
  const char* expected;
};

class AssetStoreLocation : public ::testing::TestWithParam<Location> {};

TEST_P(AssetStoreLocation, FollowsTheEnvironmentInOrder) {
  EnvironmentScope environment;
  environment.set("ONDEVICE_STT_ASSETS", GetParam().assets);
  environment.set("XDG_DATA_HOME", GetParam().xdg);
  environment.set("HOME", GetParam().home);
  EXPECT_EQ(PlatformSettings::fromEnvironment().storeRoot(), fs::path(GetParam().expected));
}

const Location kLocations[] = {
    {"/srv/assets", "/data", "/home/u", "/srv/assets"},
    {"", "/data", "/home/u", "/data/ondevice-stt/assets"},
    {nullptr, "/data", "/home/u", "/data/ondevice-stt/assets"},
    {nullptr, "relative/data", "/home/u", "/home/u/.local/share/ondevice-stt/assets"},
    {nullptr, "", "/home/u", "/home/u/.local/share/ondevice-stt/assets"},
    {nullptr, nullptr, "/home/u", "/home/u/.local/share/ondevice-stt/assets"},
};
INSTANTIATE_TEST_SUITE_P(, AssetStoreLocation, ::testing::ValuesIn(kLocations),
                         [](const auto& info) {
                           const auto shown = [](const char* value) {
                             return value == nullptr ? "unset" : *value == 0 ? "empty" : value;
                           };
                           return std::to_string(info.index) + "_" +
                                  caseName(std::string(shown(info.param.assets)) + " " +
                                           shown(info.param.xdg));
                         });

TEST(AssetStoreLocationTest, RelativeStoreIsMadeAbsoluteAndNoVariableMeansTheAccountsHome) {
  EnvironmentScope environment;
  environment.set("ONDEVICE_STT_ASSETS", "relative/store");
  EXPECT_EQ(PlatformSettings::fromEnvironment().storeRoot(), fs::current_path() / "relative/store");

  // A host may start the tool with no environment at all.
  environment.set("ONDEVICE_STT_ASSETS", nullptr);
  environment.set("XDG_DATA_HOME", nullptr);
  environment.set("HOME", nullptr);
  const passwd* account = ::getpwuid(::getuid());
  ASSERT_NE(account, nullptr);
  const fs::path accountStore = fs::path(account->pw_dir) / ".local/share/ondevice-stt/assets";
  EXPECT_EQ(PlatformSettings::fromEnvironment().storeRoot(), accountStore);

  // A relative home is no home, as a relative XDG_DATA_HOME is no data directory: neither puts
  // the store under the working directory.
  environment.set("HOME", "relative/home");
  EXPECT_EQ(PlatformSettings::fromEnvironment().storeRoot(), accountStore);
  environment.set("XDG_DATA_HOME", "relative/data");
  EXPECT_EQ(PlatformSettings::fromEnvironment().storeRoot(), accountStore);
}

class AssetStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = scratch_.path() / "store";
    systemModel_ = scratch_.path() / "system";
    makeModel(systemModel_);
  }

  static void makeModel(const fs::path& directory) {
    fs::create_directories(directory / "en-us");
    writeText(directory / "en-us.lm.bin", "lm");
    writeText(directory / "cmudict-en-us.dict", "dict");
  }

  CatalogEntry entry(bool withSystem, bool withArchive) const {
    CatalogEntry e;
    e.identifier = "en_US";
    if (withSystem) e.system = systemModel_.string();
    if (withArchive) {
      e.archive = "http://127.0.0.1:1/ok/en_US.tar.gz";
      e.sha256 = std::string(64, '0');
    }
    return e;
  }

  // The model installed into the store as the installer leaves it.
  void installIntoStore(bool marker) const {
    makeModel(root_ / "en_US");
    if (marker) writeText(root_ / "en_US" / ".installed", "x\n");
  }

  ondevice::testing::ScratchDirectory scratch_;
  fs::path root_;
  fs::path systemModel_;
};

TEST_F(AssetStoreTest, StatusOfEachKindOfEntry) {
  const AssetStore store(root_);
  EXPECT_EQ(store.status(entry(true, false)), AssetStatus::installed);
  EXPECT_EQ(store.status(entry(true, true)), AssetStatus::installed);
  EXPECT_EQ(store.status(entry(false, true)), AssetStatus::supported);
  EXPECT_EQ(store.status(entry(false, false)), AssetStatus::unsupported);

  // A system directory that lacks a part is no installed model.
  fs::remove(systemModel_ / "cmudict-en-us.dict");
  EXPECT_EQ(store.status(entry(true, true)), AssetStatus::supported);
  EXPECT_EQ(store.status(entry(true, false)), AssetStatus::unsupported);
  // Checking created nothing.
  EXPECT_FALSE(fs::exists(root_));
}

TEST_F(AssetStoreTest, TheStoreCountsOnlyWithItsMarkerAndAllParts) {
  const AssetStore store(root_);
  installIntoStore(false);
  EXPECT_EQ(store.status(entry(false, true)), AssetStatus::supported);
  EXPECT_FALSE(store.installedModel(entry(false, true)));

  writeText(root_ / "en_US" / ".installed", "x\n");
  EXPECT_EQ(store.status(entry(false, true)), AssetStatus::installed);
  EXPECT_EQ(store.status(entry(false, false)), AssetStatus::installed);

  fs::remove_all(root_ / "en_US" / "en-us");
  EXPECT_EQ(store.status(entry(false, true)), AssetStatus::supported);
}

// The marker records the sizes of the model's files; a model whose files no longer have them is
// not installed. A marker of an earlier install holds the checksum alone and still counts. A
// marker that is no marker, or a FIFO in its place, counts as none, and is never waited on.
struct Marker {
  std::string name;
  std::optional<std::string> text;  // none: a FIFO
  bool installed;
};

class AssetStoreMarker : public AssetStoreTest, public ::testing::WithParamInterface<Marker> {};

TEST_P(AssetStoreMarker, CountsWhenTheRecordedFilesAreIntact) {
  installIntoStore(false);  // en-us.lm.bin holds 2 bytes, cmudict-en-us.dict 4
  const fs::path marker = root_ / "en_US" / ".installed";
  if (GetParam().text) {
    writeText(marker, *GetParam().text);
  } else {
    ASSERT_EQ(::mkfifo(marker.c_str(), 0600), 0);
  }
  const AssetStore store(root_);
  EXPECT_EQ(store.status(entry(false, true)),
            GetParam().installed ? AssetStatus::installed : AssetStatus::supported);
  EXPECT_EQ(store.installedModel(entry(false, true)).has_value(), GetParam().installed);
}

const Marker kMarkers[] = {
    {"checksum alone", "x\n", true},
    {"sizes as recorded", "x\n2 en-us.lm.bin\n4 cmudict-en-us.dict\n", true},
    {"a file cut short since", "x\n2 en-us.lm.bin\n5 cmudict-en-us.dict\n", false},
    {"a recorded file gone", "x\n4 en-us/mdef\n", false},
    {"a recorded file no regular file", "x\n0 en-us\n", false},
    {"a size that is no number", "x\nfour cmudict-en-us.dict\n", false},
    {"a path leaving the model", "x\n4 ../en_US/cmudict-en-us.dict\n", false},
    {"a last line cut short", "x\n4 cmudict-en-us.dict", false},
    {"fifo", std::nullopt, false},
};
INSTANTIATE_TEST_SUITE_P(, AssetStoreMarker, ::testing::ValuesIn(kMarkers), namedBy<&Marker::name>);

TEST_F(AssetStoreTest, DownloadingWhileAnotherHoldsTheLockAndOnlyThen) {
  const AssetStore store(root_);
  fs::create_directories(root_);
  const auto lockFile = root_ / "en_US.lock";
  EXPECT_EQ(store.status(entry(false, true)), AssetStatus::supported);  // no lock file yet

  const int holder = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(holder, 0);
  EXPECT_EQ(store.status(entry(false, true)), AssetStatus::supported);  // file, but unlocked
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  EXPECT_EQ(store.status(entry(false, true)), AssetStatus::downloading);
  // A status check does not take the lock away from the installer, nor is it one.
  EXPECT_EQ(store.status(entry(false, true)), AssetStatus::downloading);
  ::close(holder);
  EXPECT_EQ(store.status(entry(false, true)), AssetStatus::supported);
}

TEST_F(AssetStoreTest, InstalledModelGivesAbsolutePathsPreferringTheStore) {
  const AssetStore store(root_);
  auto files = store.installedModel(entry(true, true));
  ASSERT_TRUE(files);
  EXPECT_EQ(files->acousticModel, (systemModel_ / "en-us").string());
  EXPECT_EQ(files->languageModel, (systemModel_ / "en-us.lm.bin").string());
  EXPECT_EQ(files->dictionary, (systemModel_ / "cmudict-en-us.dict").string());

  installIntoStore(true);
  files = store.installedModel(entry(true, true));
  ASSERT_TRUE(files);
  EXPECT_EQ(files->acousticModel, (root_ / "en_US" / "en-us").string());
  EXPECT_EQ(files->dictionary, (root_ / "en_US" / "cmudict-en-us.dict").string());
  EXPECT_TRUE(store.installedModel(entry(false, true)));
}

TEST_F(AssetStoreTest, RequestOnlyWhenSomethingIsToInstall) {
  const AssetStore store(root_);
  EXPECT_EQ(store.installationRequest(entry(true, true)), nullptr);
  EXPECT_NE(store.installationRequest(entry(false, true)), nullptr);
  EXPECT_THAT([&] { store.installationRequest(entry(false, false)); },
              ThrowsMessage<PlatformError>(StrEq("Assets not supported for locale: en_US")));
  installIntoStore(true);
  EXPECT_EQ(store.installationRequest(entry(false, true)), nullptr);
}

}  // namespace
}  // namespace ondevice::platform
