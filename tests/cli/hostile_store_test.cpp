// The binary against an asset store and a catalog that cannot serve it: prepare against a
// catalog whose en_US model must be downloaded from a server of the test's own, into a store
// that cannot take it; catalogs that are no file or hold what a catalog may not; and no
// environment at all.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "tests/cli/hostile_input.h"
#include "tests/support/asset_test_support.h"
#include "tests/support/binary_records.h"
#include "tests/support/case_name.h"
#include "tests/support/files.h"

namespace ondevice::testing::hostile {
namespace {

namespace fs = std::filesystem;
using ::testing::_;
using ::testing::HasSubstr;

class HostileStore : public ::testing::Test {
 protected:
  // A model of the three parts, with `bytes` of incompressible data in it, archived and served.
  void serveModel(size_t bytes) {
    const fs::path model = scratch_.path() / "model";
    fs::create_directories(model / "en-us");
    writeText(model / "en-us" / "mdef", randomBytes(bytes, 7));
    writeText(model / "en-us.lm.bin", "language model");
    writeText(model / "cmudict-en-us.dict", "hello HH AH L OW\n");
    fs::create_directories(served_);
    const fs::path archive = served_ / "en_US.tar.gz";
    assets::makeModelArchive(model, archive, "tar.gz");
    server_.emplace(served_);
    assets::CatalogLine line;
    line.archive = server_->url("ok", "en_US.tar.gz");
    line.sha256 = assets::sha256Hex(archive);
    line.size = fs::file_size(archive);
    writeText(catalog_, assets::catalogJson({line}));
  }

  ProcessResult prepare(const fs::path& store) {
    ProcessOptions options;
    options.environment = {{"ONDEVICE_STT_CATALOG", catalog_.string()},
                           {"ONDEVICE_STT_ASSETS", store.string()}};
    return run({"prepare"}, options);
  }

  static bool installed(const fs::path& store) {
    std::error_code ignored;
    return fs::exists(store / "en_US" / ".installed", ignored);
  }

  ScratchDirectory scratch_;
  fs::path served_ = scratch_.path() / "served";
  fs::path catalog_ = scratch_.path() / "catalog.json";
  std::optional<assets::AssetServer> server_;
};

TEST_F(HostileStore, ReadOnlyStore) {
  serveModel(1000);
  const fs::path store = scratch_.path() / "read-only";
  TemporaryMount mount(store, "size=1m", MS_RDONLY);
  if (!mount.mounted()) {
    // Without a mount, permissions make the store read-only, except for root.
    if (::geteuid() == 0) GTEST_SKIP() << "cannot mount a read-only file system here";
    fs::permissions(store, fs::perms::owner_read | fs::perms::owner_exec);
  }
  EXPECT_THAT(prepare(store), FailsWith(_));
  EXPECT_TRUE(fs::is_empty(store));
  if (!mount.mounted()) fs::permissions(store, fs::perms::owner_all);
}

// Too small for the download; then room for the download but not for its extraction.
class NearlyFullStore : public HostileStore, public ::testing::WithParamInterface<size_t> {};

TEST_P(NearlyFullStore, FailsAndStaysUninstalled) {
  serveModel(GetParam());
  const fs::path store = scratch_.path() / "small";
  TemporaryMount mount(store, "size=256k");
  if (!mount.mounted()) GTEST_SKIP() << "cannot mount a small file system here";
  for (int attempt = 0; attempt < 2; ++attempt) {  // the second resumes what is left
    EXPECT_THAT(prepare(store), FailsWith(_));
    EXPECT_FALSE(installed(store));
  }
}

INSTANTIATE_TEST_SUITE_P(, NearlyFullStore, ::testing::Values(400u * 1024u, 150u * 1024u),
                         ::testing::PrintToStringParamName());

// A store that cannot hold a directory fails; leftovers inside a store are the store's own to
// replace. Either way, installed means complete.
struct NoDirectory {
  std::string name;
  std::string store;  // under the scratch directory
  bool fails;
};

class StoreThatIsNoDirectory : public HostileStore,
                               public ::testing::WithParamInterface<NoDirectory> {};

TEST_P(StoreThatIsNoDirectory, FailsOrInstallsCompletely) {
  serveModel(1000);
  const fs::path file = scratch_.path() / "a-file";
  writeText(file, "not a directory");
  const fs::path strayFile = scratch_.path() / "locale-is-a-file";
  fs::create_directories(strayFile);
  writeText(strayFile / "en_US", "not a model");
  writeText(strayFile / "en_US.lock", "");
  fs::create_directories(scratch_.path() / "partial-is-a-directory" / "en_US.partial");

  const fs::path store = scratch_.path() / GetParam().store;
  const ProcessResult r = prepare(store);
  EXPECT_THAT(r, EndsWithOneRecord());
  if (GetParam().fails) {
    EXPECT_EQ(r.exitStatus, 1);
  }
  EXPECT_EQ(installed(store), r.exitStatus == 0) << r.out << r.err;
  EXPECT_EQ(readText(file), "not a directory");
}

const NoDirectory kNoDirectories[] = {
    {"a file", "a-file", true},
    {"below a file", "a-file/below", true},
    {"locale is a file", "locale-is-a-file", true},
    {"partial is a directory", "partial-is-a-directory", false},
};
INSTANTIATE_TEST_SUITE_P(, StoreThatIsNoDirectory, ::testing::ValuesIn(kNoDirectories),
                         namedBy<&NoDirectory::name>);

TEST(HostileInput, EmptyEnvironment) {
  // A host may start the tool with no environment at all; the installed US English model is
  // then still found, through the account's home directory.
  ProcessOptions options;
  options.unsetEnvironment = {"HOME", "XDG_DATA_HOME", "ONDEVICE_STT_ASSETS",
                              "ONDEVICE_STT_CATALOG"};
  EXPECT_THAT(run({"prepare"}, options), Prints(kPreparedRecord));
  const ProcessResult transcribed = run({"transcribe", "--file", kSpeechFile}, options);
  EXPECT_THAT(transcribed, EndsWithOneRecord());
  EXPECT_EQ(transcribed.exitStatus, 0);
}

// HOME naming a directory that does not exist: the store under it is not made, and neither is
// the home, even for root, who could make it. (The download would fail, too: nothing serves
// on port 9.)
TEST(HostileInput, AHomeThatDoesNotExistIsNotCreated) {
  ScratchDirectory scratch;
  const fs::path home = scratch.path() / "no-such-home";
  const fs::path catalog = scratch.path() / "catalog.json";
  assets::CatalogLine line;
  line.archive = "http://127.0.0.1:9/en_US.tar.gz";
  line.sha256 = std::string(64, '0');
  writeText(catalog, assets::catalogJson({line}));
  ProcessOptions options;
  options.environment = {{"HOME", home.string()}, {"ONDEVICE_STT_CATALOG", catalog.string()}};
  options.unsetEnvironment = {"XDG_DATA_HOME", "ONDEVICE_STT_ASSETS"};
  EXPECT_THAT(run({"prepare"}, options),
              FailsWith("Cannot create the asset store " + home.string() +
                        "/.local/share/ondevice-stt/assets: the home directory " + home.string() +
                        " does not exist"));
  EXPECT_FALSE(fs::exists(home));
}

// The platform's catalog setting naming a FIFO without writer, an endless device or a
// directory: a clear error naming it, at once, never a wait or a read without end.
struct NoFile {
  std::string name;
  std::string catalog;  // "$DIR" is the scratch directory
};

class CatalogThatIsNoFile : public ::testing::TestWithParam<NoFile> {};

TEST_P(CatalogThatIsNoFile, IsAnErrorNamingIt) {
  ScratchDirectory scratch;
  ASSERT_EQ(::mkfifo((scratch.path() / "catalog.fifo").c_str(), 0600), 0);
  const std::string catalog = inDirectory(GetParam().catalog, scratch.path());
  ProcessOptions options;
  options.environment = {{"ONDEVICE_STT_CATALOG", catalog}};
  options.timeout = std::chrono::seconds(20);
  EXPECT_THAT(runBinary({"prepare"}, options), FailsWith(HasSubstr(catalog)));
}

const NoFile kNoFiles[] = {
    {"fifo", "$DIR/catalog.fifo"},
    {"endless device", "/dev/zero"},
    {"directory", "$DIR"},
};
INSTANTIATE_TEST_SUITE_P(, CatalogThatIsNoFile, ::testing::ValuesIn(kNoFiles),
                         namedBy<&NoFile::name>);

// The locale's lock file a FIFO without writer, a directory, or a link to an endless device:
// the status check and the installer never wait on it or read it; prepare, and transcribe,
// which prepares first, fail at once naming it.
struct NotALock {
  std::string name;
  std::function<void(const fs::path&)> make;
};

class LockThatIsNoFile : public ::testing::TestWithParam<NotALock> {};

TEST_P(LockThatIsNoFile, IsAnErrorNamingIt) {
  ScratchDirectory scratch;
  const fs::path store = scratch.path() / "store";
  const fs::path lock = store / "en_US.lock";
  fs::create_directories(store);
  GetParam().make(lock);
  const fs::path catalog = scratch.path() / "catalog.json";
  assets::CatalogLine line;
  line.archive = "http://127.0.0.1:1/ok/en_US.tar.gz";  // never asked: the lock comes first
  line.sha256 = std::string(64, '0');
  writeText(catalog, assets::catalogJson({line}));
  ProcessOptions options;
  options.environment = {{"ONDEVICE_STT_CATALOG", catalog.string()},
                         {"ONDEVICE_STT_ASSETS", store.string()}};
  options.timeout = std::chrono::seconds(20);
  EXPECT_THAT(runBinary({"prepare"}, options), FailsWith(HasSubstr(lock.string())));
  EXPECT_THAT(runBinary({"transcribe", "--file", kSpeechFile}, options),
              FailsWith(HasSubstr(lock.string())));
}

const NotALock kNotLocks[] = {
    {"fifo", [](const fs::path& lock) { ASSERT_EQ(::mkfifo(lock.c_str(), 0600), 0); }},
    {"directory", [](const fs::path& lock) { fs::create_directories(lock); }},
    {"link to an endless device",
     [](const fs::path& lock) { fs::create_symlink("/dev/zero", lock); }},
};
INSTANTIATE_TEST_SUITE_P(, LockThatIsNoFile, ::testing::ValuesIn(kNotLocks),
                         namedBy<&NotALock::name>);

TEST(HostileInput, CatalogWithNumberOutOfRange) {
  ScratchDirectory scratch;
  const fs::path catalog = scratch.path() / "catalog.json";
  writeText(catalog, R"({"locales": {"en_US": {"size": 1e999}}})");
  ProcessOptions options;
  options.environment = {{"ONDEVICE_STT_CATALOG", catalog.string()}};
  // The platform's own description, naming the catalog.
  EXPECT_THAT(run({"prepare"}, options), FailsWith(HasSubstr(catalog.string())));
}

// A catalog key is stored as its POSIX identifier, which results report.
struct Spelling {
  std::string language;
};

class CatalogKeyInAnySpelling : public ::testing::TestWithParam<Spelling> {};

TEST_P(CatalogKeyInAnySpelling, AnswersWithTheIdentifier) {
  ScratchDirectory scratch;
  const fs::path catalog = scratch.path() / "catalog.json";
  writeText(catalog,
            R"({"locales": {"en-us": {"system": "/usr/share/pocketsphinx/model/en-us"}}})");
  ProcessOptions options;
  options.environment = {{"ONDEVICE_STT_CATALOG", catalog.string()},
                         {"ONDEVICE_STT_ASSETS", (scratch.path() / "store").string()}};
  EXPECT_EQ(run({"is-available", "--language", GetParam().language}, options).out,
            "{\"available\":true,\"language\":\"en_US\"}\n");
  EXPECT_EQ(run({"prepare", "--language", GetParam().language}, options).out, kPreparedRecord);
}

INSTANTIATE_TEST_SUITE_P(, CatalogKeyInAnySpelling,
                         ::testing::Values(Spelling{"en-us"}, Spelling{"en_US"}, Spelling{"en"}),
                         numberedBy<&Spelling::language>);

}  // namespace
}  // namespace ondevice::testing::hostile
