// `prepare` through the real binary against the project's own HTTP server on 127.0.0.1, with a
// model archive made at test time from the installed pocketsphinx-en-us files: installs,
// concurrent prepares, interrupted downloads and installs, every download failure, hostile
// archives, broken models, full stores and unusable catalogs. A model installed this way is
// then what `transcribe` uses.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <future>
#include <string>

#include "platform/api/platform_error.h"
#include "platform/light/asset_store.h"
#include "platform/module/assets/asset_installer.h"
#include "tests/support/asset_test_support.h"
#include "tests/support/binary_records.h"
#include "tests/support/case_name.h"
#include "tests/support/process.h"
#include "tests/support/sanitizer_build.h"

namespace ondevice::platform {
namespace {

namespace assets = ondevice::testing::assets;
namespace fs = std::filesystem;
using ondevice::testing::FailsWith;
using ondevice::testing::kPreparedRecord;
using ondevice::testing::kSanitizerBuild;
using ondevice::testing::kSanitizerSkipReason;
using ondevice::testing::namedBy;
using ondevice::testing::Prints;
using ondevice::testing::Process;
using ondevice::testing::ProcessOptions;
using ondevice::testing::ProcessResult;
using ondevice::testing::readText;
using ondevice::testing::runBinary;
using ondevice::testing::writeText;
using ::testing::_;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

class AssetPrepareTest : public ::testing::Test {
 protected:
  // The real model, archived once per build (its one top-level directory holds the parts, as
  // the archives of model releases usually do). CTest runs each test in its own process, so the
  // archive is kept beside the binary; it is published with a hard link, which never replaces
  // an archive that another test process is already serving.
  static void SetUpTestSuite() {
    const fs::path cache = fs::path(ondevice::testing::binaryPath()).parent_path() / "test-assets";
    fs::create_directories(cache);
    archive_ = cache / "en_US-model.tar.gz";
    if (!fs::exists(archive_)) {
      const fs::path made = cache / ("en_US-model." + std::to_string(getpid()) + ".tar.gz");
      assets::makeModelArchive(assets::kSystemModel, made, "tar.gz", "en-us-model");
      std::error_code raced;  // another process published first: use its archive
      fs::create_hard_link(made, archive_, raced);
      fs::remove(made);
    }
    digest_ = assets::sha256Hex(archive_);
    size_ = fs::file_size(archive_);
  }

  void SetUp() override {
    fs::create_directories(served_);
    fs::create_symlink(archive_, served_ / "en_US.tar.gz");
    writeCatalog("ok");
  }

  void writeCatalog(const std::string& fault, const std::string& file = "en_US.tar.gz") const {
    writeCatalogEntry(server_.url(fault, file), digest_, size_);
  }
  void writeCatalogEntry(const std::string& url, const std::string& digest,
                         std::uintmax_t size) const {
    assets::CatalogLine line;
    line.archive = url;
    line.sha256 = digest;
    line.size = size;
    writeText(catalog_, assets::catalogJson({line}));
  }

  // The binary's environment names the catalog and the store; `extra` is added.
  ProcessOptions options(const std::map<std::string, std::string>& extra = {}) const {
    ProcessOptions options;
    options.environment = {{"ONDEVICE_STT_CATALOG", catalog_.string()},
                           {"ONDEVICE_STT_ASSETS", store_.string()}};
    options.environment.insert(extra.begin(), extra.end());
    options.timeout = std::chrono::minutes(2);
    return options;
  }
  ProcessResult run(const std::vector<std::string>& arguments,
                    const std::map<std::string, std::string>& extra = {}) const {
    return runBinary(arguments, options(extra));
  }
  ProcessResult prepare(const std::string& language = "en_US") const {
    return run({"prepare", "--language", language});
  }
  std::unique_ptr<Process> startPrepare() const {
    return std::make_unique<Process>(
        ondevice::testing::binaryCommand({"prepare", "--language", "en_US"}), options());
  }

  CatalogEntry entry() const {
    CatalogEntry e;
    e.identifier = "en_US";
    e.archive = server_.url("ok", "en_US.tar.gz");
    e.sha256 = digest_;
    return e;
  }
  AssetStatus status() const { return AssetStore(store_).status(entry()); }

  // Whether the store holds a staging directory of the installer's (signed as its own).
  bool hasStaging() const {
    if (!fs::exists(store_)) return false;
    for (const auto& item : fs::directory_iterator(store_)) {
      if (item.path().filename().string().starts_with("en_US.staging-") &&
          fs::exists(item.path() / ".made-by-ondevice-stt")) {
        return true;
      }
    }
    return false;
  }
  std::uintmax_t partialSize() const {
    std::error_code error;
    const auto size = fs::file_size(store_ / "en_US.partial", error);
    return error ? 0 : size;
  }

  // Everything installed is the model and nothing else: its parts, byte for byte.
  void expectInstalled() const {
    EXPECT_EQ(status(), AssetStatus::installed);
    // The marker records the sizes of the files the recogniser reads.
    EXPECT_THAT(readText(store_ / "en_US" / ".installed"),
                AllOf(StartsWith(digest_ + "\n"), HasSubstr("\n3272051 cmudict-en-us.dict\n"),
                      HasSubstr("\n230 en-us/feat.params\n")));
    EXPECT_EQ(assets::sha256Hex(store_ / "en_US" / "cmudict-en-us.dict"),
              assets::sha256Hex(fs::path(assets::kSystemModel) / "cmudict-en-us.dict"));
    EXPECT_EQ(assets::sha256Hex(store_ / "en_US" / "en-us" / "mdef"),
              assets::sha256Hex(fs::path(assets::kSystemModel) / "en-us" / "mdef"));
    EXPECT_FALSE(fs::exists(store_ / "en_US.partial"));
    EXPECT_FALSE(hasStaging());
  }
  void expectNotInstalled() const {
    EXPECT_NE(status(), AssetStatus::installed);
    EXPECT_FALSE(fs::exists(store_ / "en_US" / ".installed"));
  }

  // The names in the store, sorted.
  std::vector<std::string> storeEntries() const {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(store_)) {
      names.push_back(item.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // Serves `file` (in the served directory) as the catalog's en_US archive.
  void serveArchive(const std::string& file) const {
    writeCatalogEntry(server_.url("ok", file), assets::sha256Hex(served_ / file),
                      fs::file_size(served_ / file));
  }

  // The job the binary would give the installer for the catalog's entry, to run in this process.
  AssetInstallJob job(const std::string& fault) const {
    AssetInstallJob j;
    j.localeIdentifier = "en_US";
    j.archiveURL = server_.url(fault, "en_US.tar.gz");
    j.sha256 = digest_;
    j.size = size_;
    j.storeDirectory = store_.string();
    return j;
  }

  static fs::path archive_;
  static std::string digest_;
  static std::uintmax_t size_;

  ondevice::testing::ScratchDirectory scratch_;
  fs::path served_ = scratch_.path() / "served";
  fs::path store_ = scratch_.path() / "store";
  fs::path catalog_ = scratch_.path() / "catalog.json";
  assets::AssetServer server_{served_};
};

fs::path AssetPrepareTest::archive_;
std::string AssetPrepareTest::digest_;
std::uintmax_t AssetPrepareTest::size_ = 0;

// Whether the dynamic loader's log in `directory` shows the speech module being opened.
bool speechModuleLoaded(const fs::path& directory) {
  for (const auto& item : fs::directory_iterator(directory)) {
    if (readText(item.path()).find("ondevice-stt-speech") != std::string::npos) return true;
  }
  return false;
}

TEST_F(AssetPrepareTest, InstallsOnceThenFindsItInstalledWithoutAnyRequest) {
  EXPECT_EQ(status(), AssetStatus::supported);
  const auto firstLog = scratch_.path() / "ld-first";
  const auto secondLog = scratch_.path() / "ld-second";
  fs::create_directories(firstLog);
  fs::create_directories(secondLog);

  EXPECT_THAT(run({"prepare", "--language", "en_US"},
                  {{"LD_DEBUG", "files"}, {"LD_DEBUG_OUTPUT", (firstLog / "ld").string()}}),
              Prints(kPreparedRecord));
  ASSERT_EQ(server_.requests().size(), 1u);
  EXPECT_EQ(server_.requests()[0].range, "-");
  expectInstalled();
  EXPECT_TRUE(speechModuleLoaded(firstLog));

  // Installed: no request, and the heavy module is not even opened. The answer carries the
  // resolved identifier whatever form the language came in.
  for (const char* language : {"en_US", "en-US", "en"}) {
    EXPECT_THAT(run({"prepare", "--language", language},
                    {{"LD_DEBUG", "files"}, {"LD_DEBUG_OUTPUT", (secondLog / "ld").string()}}),
                Prints(kPreparedRecord));
  }
  EXPECT_EQ(server_.requests().size(), 1u);
  EXPECT_FALSE(speechModuleLoaded(secondLog));
}

TEST_F(AssetPrepareTest, TwoPreparesAtOnceDownloadOnce) {
  writeCatalog("slow");
  auto first = startPrepare();
  ASSERT_TRUE(assets::waitUntil([&] { return partialSize() > 0; }, std::chrono::seconds(30)));
  // What the second prepare is about to see.
  EXPECT_EQ(status(), AssetStatus::downloading);
  auto second = startPrepare();

  EXPECT_THAT(first->wait(), Prints(kPreparedRecord));
  EXPECT_THAT(second->wait(), Prints(kPreparedRecord));
  EXPECT_EQ(server_.requests().size(), 1u);
  expectInstalled();
}

TEST_F(AssetPrepareTest, ADroppedConnectionFailsAndTheNextPrepareResumes) {
  writeCatalog("drop-once");
  EXPECT_THAT(
      prepare(),
      FailsWith(StartsWith("Download of assets for en_US failed: Transferred a partial file")));
  expectNotInstalled();
  const auto kept = partialSize();
  EXPECT_GT(kept, 0u);

  EXPECT_THAT(prepare(), Prints(kPreparedRecord));
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].range, "bytes=" + std::to_string(kept) + "-");
  expectInstalled();
}

TEST_F(AssetPrepareTest, KilledDuringTheDownloadLeavesNothingInstalled) {
  writeCatalog("slow");
  auto killed = startPrepare();
  ASSERT_TRUE(assets::waitUntil([&] { return partialSize() > 0; }, std::chrono::seconds(30)));
  killed->signal(SIGKILL);
  EXPECT_EQ(killed->wait().signal, SIGKILL);
  expectNotInstalled();
  EXPECT_EQ(status(), AssetStatus::supported);  // the lock died with the process
  const auto kept = partialSize();
  ASSERT_GT(kept, 0u);
  ASSERT_LT(kept, size_);

  writeCatalog("ok");
  EXPECT_THAT(prepare(), Prints(kPreparedRecord));
  EXPECT_NE(server_.requests().back().range, "-");  // resumed, not started over
  expectInstalled();
}

TEST_F(AssetPrepareTest, KilledDuringTheExtractionLeavesNothingInstalled) {
  auto killed = startPrepare();
  ASSERT_TRUE(assets::waitUntil([&] { return hasStaging(); }, std::chrono::seconds(60)));
  killed->signal(SIGKILL);
  EXPECT_EQ(killed->wait().signal, SIGKILL);
  ASSERT_TRUE(hasStaging()) << "the process got past its extraction before the kill landed";
  expectNotInstalled();

  EXPECT_THAT(prepare(), Prints(kPreparedRecord));
  expectInstalled();  // and the stale staging directory is gone
}

// What holds the model's place before a prepare. A model of the tool's own (signed, as every
// model it moves in is, or marked), complete or not, is replaced once the new model is ready,
// and so are its own staging directories. Anything else stops the prepare before a byte is
// fetched, named, and is left as it was; so is a name like a staging directory's that the tool
// did not sign.
struct InThePlace {
  std::string name;
  std::function<void(const fs::path& store)> make;
  bool replaced;
};

class ModelsPlace : public AssetPrepareTest, public ::testing::WithParamInterface<InThePlace> {};

TEST_P(ModelsPlace, IsTakenOnlyFromTheToolsOwn) {
  fs::create_directories(store_ / "en_US.staging-notes");
  writeText(store_ / "en_US.staging-notes" / "keep", "another's");
  GetParam().make(store_);
  EXPECT_EQ(status(), AssetStatus::supported);
  if (GetParam().replaced) {
    EXPECT_THAT(prepare(), Prints(kPreparedRecord));
    expectInstalled();
    EXPECT_THAT(storeEntries(), ElementsAre("en_US", "en_US.lock", "en_US.staging-notes"));
  } else {
    EXPECT_THAT(prepare(),
                FailsWith("Cannot install the assets for en_US: " + (store_ / "en_US").string() +
                          " is in the way (it is not what ondevice-stt made there)"));
    EXPECT_TRUE(server_.requests().empty());
    EXPECT_THAT(storeEntries(), ElementsAre("en_US", "en_US.lock", "en_US.staging-notes"));
  }
  EXPECT_EQ(readText(store_ / "en_US.staging-notes" / "keep"), "another's");
}

// Three parts whose content is not the model's, as a killed install or a damaged disk leaves them.
void halfWrittenModel(const fs::path& directory) {
  fs::create_directories(directory / "en-us");
  writeText(directory / "en-us.lm.bin", "half written");
  writeText(directory / "cmudict-en-us.dict", "half written");
}

const InThePlace kInThePlace[] = {
    {"unmarked model of its own and its staging",
     [](const fs::path& store) {
       halfWrittenModel(store / "en_US");  // killed between moving it in and marking it
       writeText(store / "en_US" / ".made-by-ondevice-stt", "");
       fs::create_directories(store / "en_US.staging-old1" / "contents" / "en-us");
       writeText(store / "en_US.staging-old1" / ".made-by-ondevice-stt", "");
     },
     true},
    {"marked model with a file cut short since",
     [](const fs::path& store) {
       halfWrittenModel(store / "en_US");
       writeText(store / "en_US" / ".installed", "x\n3272051 cmudict-en-us.dict\n");
     },
     true},
    {"another's directory",
     [](const fs::path& store) {
       halfWrittenModel(store / "en_US");
       writeText(store / "en_US" / "notes", "another's");
     },
     false},
    {"a file", [](const fs::path& store) { writeText(store / "en_US", "another's"); }, false},
    {"a link to another's directory",
     [](const fs::path& store) {
       halfWrittenModel(store.parent_path() / "elsewhere");
       writeText(store.parent_path() / "elsewhere" / ".made-by-ondevice-stt", "");
       fs::create_directory_symlink(store.parent_path() / "elsewhere", store / "en_US");
     },
     false},
};
INSTANTIATE_TEST_SUITE_P(, ModelsPlace, ::testing::ValuesIn(kInThePlace),
                         namedBy<&InThePlace::name>);

// The store may be a link to a directory elsewhere, a common layout for a shared volume.
TEST_F(AssetPrepareTest, AStoreThatIsALinkReceivesTheModel) {
  const fs::path elsewhere = scratch_.path() / "volume" / "stt-assets";
  fs::create_directories(elsewhere);
  fs::create_directory_symlink(elsewhere, store_);
  EXPECT_THAT(prepare(), Prints(kPreparedRecord));
  expectInstalled();
  EXPECT_TRUE(fs::is_symlink(store_));
  EXPECT_TRUE(fs::exists(elsewhere / "en_US" / ".installed"));
}

TEST_F(AssetPrepareTest, DownloadFailuresLeaveTheStoreUsable) {
  const int closedPort = [] {
    ondevice::testing::ScratchDirectory other;
    assets::AssetServer stopped(other.path());
    return stopped.port();
  }();
  const std::string ok = server_.url("ok", "en_US.tar.gz");
  const struct {
    const char* name;
    std::string url;
    std::string digest;
    std::uintmax_t size;
    std::string expected;  // the start of the description
  } cases[] = {
      {"wrong checksum", ok, std::string(64, '0'), size_,
       "Checksum of the downloaded assets for en_US does not match the catalog: expected " +
           std::string(64, '0') + ", got " + digest_},
      {"404", server_.url("404", "en_US.tar.gz"), digest_, size_,
       "Download of assets for en_US failed: HTTP 404"},
      {"500", server_.url("500", "en_US.tar.gz"), digest_, size_,
       "Download of assets for en_US failed: HTTP 500"},
      {"refused", "http://127.0.0.1:" + std::to_string(closedPort) + "/ok/en_US.tar.gz", digest_,
       size_, "Download of assets for en_US failed: Couldn't connect to server"},
      {"beyond the cap", ok, digest_, size_ - 1,
       "Download of assets for en_US failed: the archive is larger than the catalog's size of " +
           std::to_string(size_ - 1) + " bytes"},
  };
  // What a killed install left, which only a verified download may replace.
  fs::create_directories(store_ / "en_US" / "en-us");
  writeText(store_ / "en_US" / ".made-by-ondevice-stt", "");
  fs::create_directories(store_ / "en_US.staging-old1" / "contents");
  writeText(store_ / "en_US.staging-old1" / ".made-by-ondevice-stt", "");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeCatalogEntry(c.url, c.digest, c.size);
    EXPECT_THAT(prepare(), FailsWith(StartsWith(c.expected)));
    expectNotInstalled();
    // As it was, apart from the lock file: no partial download is left without a byte in it.
    EXPECT_THAT(storeEntries(), ElementsAre("en_US", "en_US.lock", "en_US.staging-old1"));
  }
  writeCatalog("ok");
  EXPECT_THAT(prepare(), Prints(kPreparedRecord));
  expectInstalled();
}

const std::string kRefused = "The archive of the assets for en_US is refused: ";

struct HostileArchive {
  std::string kind;
  std::string expected;  // the start of the description
  std::string alsoSaid = "";
};

class HostileArchivePrepare : public AssetPrepareTest,
                              public ::testing::WithParamInterface<HostileArchive> {};

TEST_P(HostileArchivePrepare, IsRefusedWithNothingWrittenOutside) {
  const fs::path absoluteTarget = scratch_.path() / "absolute-target";
  const std::string file = GetParam().kind + ".tar.gz";
  assets::makeHostileArchive(GetParam().kind, served_ / file, "tar.gz", absoluteTarget.string());
  serveArchive(file);
  EXPECT_THAT(prepare(),
              FailsWith(AllOf(StartsWith(GetParam().expected), HasSubstr(GetParam().alsoSaid))));
  expectNotInstalled();
  EXPECT_FALSE(hasStaging());
  // The store holds the lock file and nothing else; nothing landed beside it or above it.
  EXPECT_THAT(storeEntries(), ElementsAre("en_US.lock"));
  EXPECT_FALSE(fs::exists(store_ / "de_DE"));
  EXPECT_FALSE(fs::exists(scratch_.path() / "x"));
  EXPECT_FALSE(fs::exists(scratch_.path() / "outside"));
  EXPECT_FALSE(fs::exists(absoluteTarget));
}

const HostileArchive kHostileArchives[] = {
    {"dotdot", kRefused + "entry \"../x\" leaves"},
    {"absolute", kRefused + "entry \"/"},
    {"symlink-out", kRefused + "link \"outside\""},
    // Inside the archive, but only its directory m/ is installed.
    {"model-link-out", kRefused + "link \"", "\" leaves the model directory"},
    {"model-link-back-in", kRefused + "link \"back\" leaves the model directory"},
    // 64 MiB of zeros in 64 KiB: refused from its headers, before a byte is extracted.
    {"bomb", kRefused + "its contents exceed ", " bytes (20 times the archive's size)"},
};
INSTANTIATE_TEST_SUITE_P(, HostileArchivePrepare, ::testing::ValuesIn(kHostileArchives),
                         namedBy<&HostileArchive::kind>);

TEST_F(AssetPrepareTest, UnusableCatalogsAndUnsupportedEntries) {
  const auto missing = scratch_.path() / "missing.json";
  ProcessOptions options;
  options.environment = {{"ONDEVICE_STT_CATALOG", missing.string()},
                         {"ONDEVICE_STT_ASSETS", store_.string()}};
  EXPECT_THAT(runBinary({"prepare", "--language", "en_US"}, options),
              FailsWith("Asset catalog " + missing.string() +
                        " is not usable: cannot be read (No such file or directory)"));

  writeText(catalog_, "{\"locales\": {\"en_US\": ");
  EXPECT_THAT(prepare(), FailsWith(StartsWith("Asset catalog " + catalog_.string() +
                                              " is not usable: not valid JSON")));

  // Known to the catalog, but with nowhere to get the model from.
  writeText(catalog_, "{\"locales\": {\"en_US\": {}}}");
  EXPECT_THAT(prepare("en-US"), FailsWith("Assets not supported for locale: en_US"));
  EXPECT_TRUE(server_.requests().empty());
  EXPECT_FALSE(fs::exists(store_));
}

TEST_F(AssetPrepareTest, AModelInstalledIntoTheStoreTranscribes) {
  const std::string speech =
      "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav";
  // Before prepare there is no model to use: the catalog names no system directory.
  EXPECT_THAT(run({"transcribe", "--file", speech, "--no-prepare"}), FailsWith(_));

  const auto result = run({"transcribe", "--file", speech});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.err, "");
  // The reference is "he was not an ill disposed young man".
  EXPECT_THAT(result.out, AllOf(HasSubstr("\"language\":\"en_US\""), HasSubstr("young man")));
  EXPECT_EQ(server_.requests().size(), 1u);
  expectInstalled();

  // A dictionary cut short since is no installed model: no run uses it unchecked.
  fs::resize_file(store_ / "en_US" / "cmudict-en-us.dict", 1000);
  EXPECT_EQ(status(), AssetStatus::supported);
  EXPECT_THAT(run({"transcribe", "--file", speech, "--no-prepare"}),
              FailsWith("The speech model for en_US is not installed; run prepare first."));
}

// The real model with text in place of its acoustic model's definition: PocketSphinx ends the
// process that loads it with exit(1), so only a child of the installer may try.
TEST_F(AssetPrepareTest, AModelTheRecogniserCannotLoadIsRefused) {
  assets::makeModelArchive(assets::kSystemModel, served_ / "broken.tar.gz", "tar.gz", "en-us-model",
                           {"en-us/mdef=garbage"});
  serveArchive("broken.tar.gz");
  EXPECT_THAT(prepare(), FailsWith(kRefused + "the speech recogniser cannot load its model"));
  EXPECT_THAT(storeEntries(), ElementsAre("en_US.lock"));
  expectNotInstalled();
}

// A language model whose counts lie past the kilobytes read before loading (behind comment
// lines) and claim 500 million unigrams: the loading process runs out of its memory bound at the
// first table, rather than take gigabytes, and the archive is refused for it.
TEST_F(AssetPrepareTest, AModelThatNeedsMoreThanItsMemoryBoundIsRefused) {
  if (kSanitizerBuild) GTEST_SKIP() << kSanitizerSkipReason;
  std::string languageModel;
  for (int line = 0; line < 300; ++line) languageModel += "# a comment of forty characters ..\n";
  languageModel += "\\data\\\nngram 1=500000000\n\n\\1-grams:\n-1.0 <s> 0\n\n\\end\\\n";
  assets::makeModelArchive(assets::kSystemModel, served_ / "greedy.tar.gz", "tar.gz", "",
                           {"en-us.lm.bin=" + languageModel});
  serveArchive("greedy.tar.gz");
  EXPECT_THAT(prepare(), FailsWith(kRefused + "the speech recogniser cannot load its model (it "
                                              "needs more than 1024 MiB of memory)"));
  expectNotInstalled();
}

// A verified download in the store, extracted by a process that may not write files above
// 10 MB (en-us.lm.bin holds 27 MB): every write must succeed, and the download is kept.
TEST_F(AssetPrepareTest, AFailedWriteDuringExtractionInstallsNothing) {
  fs::create_directories(store_);
  fs::copy_file(archive_, store_ / "en_US.partial");
  ProcessOptions limited = options();
  limited.limits[RLIMIT_FSIZE] = 10240000;
  limited.ignoredSignals = {SIGXFSZ};
  EXPECT_THAT(
      runBinary({"prepare", "--language", "en_US"}, limited),
      FailsWith(AllOf(StartsWith("The archive of the assets for en_US cannot be extracted: "),
                      HasSubstr("File too large"))));
  EXPECT_THAT(storeEntries(), ElementsAre("en_US.lock", "en_US.partial"));
  EXPECT_EQ(assets::sha256Hex(store_ / "en_US.partial"), digest_);
  expectNotInstalled();

  EXPECT_EQ(prepare().exitStatus, 0);  // the kept download is used: no request
  EXPECT_TRUE(server_.requests().empty());
  expectInstalled();
}

// A partial download that is no file is in the way, not a download. A link (never what it
// points to) and an empty directory lose only their name and the archive is fetched afresh; a
// directory with something in it is another's, and stops the prepare before any request.
struct InTheWay {
  std::string name;
  std::function<void(const fs::path& partial, const fs::path& precious)> make;
  bool replaced;
};

class PartialThatIsNoFile : public AssetPrepareTest,
                            public ::testing::WithParamInterface<InTheWay> {};

TEST_P(PartialThatIsNoFile, IsReplacedOnlyWhenNothingIsLost) {
  const fs::path precious = scratch_.path() / "precious";
  writeText(precious, "keep me");
  fs::create_directories(store_);
  GetParam().make(store_ / "en_US.partial", precious);
  if (GetParam().replaced) {
    EXPECT_THAT(prepare(), Prints(kPreparedRecord));
    expectInstalled();
    EXPECT_EQ(server_.requests().back().range, "-");
  } else {
    EXPECT_THAT(prepare(), FailsWith("Cannot install the assets for en_US: " +
                                     (store_ / "en_US.partial").string() +
                                     " is in the way (it is not what ondevice-stt made there)"));
    EXPECT_TRUE(server_.requests().empty());
    EXPECT_EQ(readText(store_ / "en_US.partial" / "inside"), "keep me");
  }
  EXPECT_EQ(readText(precious), "keep me");
}

const InTheWay kInTheWay[] = {
    {"link",
     [](const fs::path& partial, const fs::path& precious) {
       fs::create_symlink(precious, partial);
     },
     true},
    {"empty directory",
     [](const fs::path& partial, const fs::path&) { fs::create_directories(partial); }, true},
    {"directory",
     [](const fs::path& partial, const fs::path& precious) {
       fs::create_directories(partial);
       fs::copy_file(precious, partial / "inside");
     },
     false},
};
INSTANTIATE_TEST_SUITE_P(, PartialThatIsNoFile, ::testing::ValuesIn(kInTheWay),
                         namedBy<&InTheWay::name>);

// An install held up by a server that trickles fails once the rate stays below the floor for
// the window (2 s here, 60 s in the binary); a prepare waiting on the lock then proceeds and
// resumes what was fetched.
TEST_F(AssetPrepareTest, ATricklingServerFailsAndTheWaitingPrepareProceeds) {
  InstallSettings settings;
  settings.slowDownloadWindow = std::chrono::seconds(2);
  auto trickling =
      std::async(std::launch::async, [&] { installLocaleAssets(job("trickle"), settings); });
  ASSERT_TRUE(assets::waitUntil([&] { return partialSize() > 0; }, std::chrono::seconds(30)));
  EXPECT_EQ(status(), AssetStatus::downloading);
  auto waiting = startPrepare();
  // The waiting prepare asks for nothing while the lock is held (once it is released it may
  // ask at once, so this is checked before the trickling download ends).
  EXPECT_EQ(server_.requests().size(), 1u);
  EXPECT_THAT([&] { trickling.get(); },
              ThrowsMessage<PlatformError>(
                  StrEq("Download of assets for en_US failed: less than 1 KiB/s for 2 s")));

  EXPECT_THAT(waiting->wait(), Prints(kPreparedRecord));
  ASSERT_EQ(server_.requests().size(), 2u);
  EXPECT_NE(server_.requests()[1].range, "-");
  expectInstalled();
}

TEST_F(AssetPrepareTest, TheCatalogsInstalledSizeBoundsTheExtraction) {
  std::uint64_t modelBytes = 0;
  for (const auto& item : fs::recursive_directory_iterator(assets::kSystemModel)) {
    if (item.is_regular_file()) modelBytes += item.file_size();
  }
  auto tight = job("ok");
  tight.installedSize = modelBytes - 1;
  EXPECT_THAT([&] { installLocaleAssets(tight); },
              ThrowsMessage<PlatformError>(StrEq(kRefused + "its contents exceed " +
                                                 std::to_string(modelBytes - 1) +
                                                 " bytes (the catalog's installedSize)")));
  EXPECT_THAT(storeEntries(), ElementsAre("en_US.lock"));

  auto exact = job("ok");
  exact.installedSize = modelBytes;
  installLocaleAssets(exact);
  expectInstalled();
}

// A model of 400 KiB of noise: a store with no room for the download is refused before it
// starts, one with room for the download but not for its contents before extracting.
struct SmallStore {
  std::string options;
  std::vector<std::string> left;
  size_t requests;
};

class StoreTooSmall : public AssetPrepareTest, public ::testing::WithParamInterface<SmallStore> {};

TEST_P(StoreTooSmall, IsRefusedUpFront) {
  const fs::path model = scratch_.path() / "noisy-model";
  fs::create_directories(model / "en-us");
  writeText(model / "en-us" / "mdef", ondevice::testing::randomBytes(400 * 1024, 3));
  writeText(model / "en-us.lm.bin", "language model");
  writeText(model / "cmudict-en-us.dict", "hello HH AH L OW\n");
  assets::makeModelArchive(model, served_ / "noisy.tar.gz", "tar.gz");
  serveArchive("noisy.tar.gz");

  ondevice::testing::TemporaryMount mount(store_, GetParam().options);
  if (!mount.mounted()) GTEST_SKIP() << "cannot mount a small file system here";
  EXPECT_THAT(prepare(), FailsWith(StartsWith("Not enough free space in " + store_.string() +
                                              " for the assets of en_US: ")));
  EXPECT_EQ(storeEntries(), GetParam().left);
  EXPECT_EQ(server_.requests().size(), GetParam().requests);
}

const SmallStore kSmallStores[] = {
    {"size=256k", {"en_US.lock"}, 0},
    {"size=640k", {"en_US.lock", "en_US.partial"}, 1},  // kept for when there is room
};
INSTANTIATE_TEST_SUITE_P(, StoreTooSmall, ::testing::ValuesIn(kSmallStores),
                         namedBy<&SmallStore::options>);

// The marker is the last thing written; when even that fails (here: the store runs out of
// inodes just then), the model that was moved into place is taken out again.
TEST_F(AssetPrepareTest, AMarkerThatCannotBeWrittenLeavesNoModelBehind) {
  std::uint64_t inodesOfAnInstall = 0;
  {
    ondevice::testing::TemporaryMount mount(store_, "size=100m");
    if (!mount.mounted()) GTEST_SKIP() << "cannot mount a file system here";
    const auto installed = prepare();
    ASSERT_EQ(installed.exitStatus, 0) << installed.err;
    struct statvfs info {};
    ASSERT_EQ(statvfs(store_.c_str(), &info), 0);
    inodesOfAnInstall = info.f_files - info.f_ffree;
  }
  // While the marker is written, the download and the staging directory (itself, its signature
  // and the emptied directory the archive went into) still exist and the marker not yet: three
  // inodes more than the finished install, and none to spare.
  ondevice::testing::TemporaryMount mount(
      store_, "size=100m,nr_inodes=" + std::to_string(inodesOfAnInstall + 3));
  ASSERT_TRUE(mount.mounted());
  fs::copy_file(archive_, store_ / "en_US.partial");
  EXPECT_THAT(prepare(),
              FailsWith("Cannot create " + (store_ / "en_US" / ".installed.tmp").string() +
                        ": No space left on device"));
  EXPECT_THAT(storeEntries(), ElementsAre("en_US.lock", "en_US.partial"));
}

}  // namespace
}  // namespace ondevice::platform
