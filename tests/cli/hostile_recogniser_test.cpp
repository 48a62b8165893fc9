// The binary with a speech module or a model the recogniser cannot use: a run that cannot
// recognise ends with a record that says why, never as invalid audio and never without a
// record, even when the recogniser's library ends the process that loads the model, and nothing
// the library prints reaches the host.

#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <link.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "tests/cli/hostile_input.h"
#include "tests/support/asset_test_support.h"
#include "tests/support/binary_records.h"
#include "tests/support/case_name.h"
#include "tests/support/files.h"
#include "tests/support/sanitizer_build.h"
#include "tests/support/speech_test_support.h"

namespace ondevice::testing::hostile {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::StartsWith;

// The binary copied into a tree of the test's own, where a module of the test's own is its
// module.
class ModuleBesideACopy : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(binary_.parent_path());
    fs::create_directories(module_.parent_path());
    fs::copy_file(binaryPath(), binary_);
  }

  static std::string realModule() { return readText(moduleOf(binaryPath())); }

  ScratchDirectory scratch_;
  const fs::path binary_ = scratch_.path() / "bin" / "ondevice-stt";
  const fs::path module_ = moduleOf(binary_);
};

// The real module naming libcurX.so.4 where it names libcurl.so.4: as after an upgrade of
// libcurl to another version that the module was not rebuilt for.
std::string needingAnotherLibcurl(const std::string& real) {
  const std::string needed("libcurl.so.4\0", 13);
  std::string bytes = real;
  const auto at = bytes.find(needed);
  if (at == std::string::npos) throw std::runtime_error("the module names no libcurl.so.4");
  bytes[at + 6] = 'X';
  return bytes;
}

// The real module as a build of another version made it: its soname, which carries the
// version, differs.
std::string ofAnotherVersion(const std::string& real) {
  const std::string soname = "ondevice-stt-speech.so.";
  std::string bytes = real;
  const auto at = bytes.find(soname);
  if (at == std::string::npos) throw std::runtime_error("the module carries no version");
  bytes[at + soname.size()] = bytes[at + soname.size()] == '9' ? '8' : '9';
  return bytes;
}

// The module garbage, cut short, missing, needing a library that is not there, or built for
// another version of the binary.
struct BrokenModule {
  std::string name;
  // From the real module's bytes, what stands in its place; none for no file at all.
  std::function<std::optional<std::string>(const std::string& real)> bytes;
};

class SpeechModuleThatCannotBeLoaded : public ModuleBesideACopy,
                                       public ::testing::WithParamInterface<BrokenModule> {};

TEST_P(SpeechModuleThatCannotBeLoaded, IsReportedAsSuch) {
  if (const auto bytes = GetParam().bytes(realModule())) writeText(module_, *bytes);
  const ProcessResult available = runProcess({binary_.string(), "is-available"});
  EXPECT_THAT(available, Prints("{\"available\":false,\"language\":\"en_US\"}\n"));
  EXPECT_THAT(runProcess({binary_.string(), "transcribe", "--no-prepare", "--file", kSpeechFile}),
              FailsWith(StartsWith("The speech module could not be loaded: ")));
}

const BrokenModule kBrokenModules[] = {
    {"garbage", [](const std::string&) { return "garbage\n"; }},
    {"cut short", [](const std::string& real) { return real.substr(0, 4096); }},
    {"only its header", [](const std::string& real) { return real.substr(0, 64); }},
    {"missing", [](const std::string&) { return std::nullopt; }},
    {"needing a missing library", needingAnotherLibcurl},
    {"of another version", ofAnotherVersion},
};
INSTANTIATE_TEST_SUITE_P(, SpeechModuleThatCannotBeLoaded, ::testing::ValuesIn(kBrokenModules),
                         namedBy<&BrokenModule::name>);

TEST_F(ModuleBesideACopy, OfAnotherVersionIsNeverLoaded) {
  writeText(module_, ofAnotherVersion(realModule()));
  EXPECT_THAT(runProcess({binary_.string(), "transcribe", "--no-prepare", "--file", kSpeechFile}),
              FailsWith("The speech module could not be loaded: " + module_.string() +
                        " was built for another version of ondevice-stt"));
}

// The control of the cases above: the module itself, copied beside the binary, is loadable.
TEST_F(ModuleBesideACopy, TheRealModuleIsLoadable) {
  writeText(module_, realModule());
  ::chmod(module_.c_str(), 0755);
  EXPECT_EQ(runProcess({binary_.string(), "is-available"}).out,
            "{\"available\":true,\"language\":\"en_US\"}\n");
}

// A library the module needs is looked for as the dynamic loader looks for it: the error names
// it, and a copy in a directory of LD_LIBRARY_PATH is found (an empty entry, the working
// directory, and one that does not exist are passed over).
TEST_F(ModuleBesideACopy, ItsLibrariesAreLookedForAsTheLoaderDoes) {
  writeText(module_, needingAnotherLibcurl(realModule()));
  EXPECT_THAT(runProcess({binary_.string(), "transcribe", "--no-prepare", "--file", kSpeechFile}),
              FailsWith("The speech module could not be loaded: " + module_.string() +
                        " needs libcurX.so.4, which cannot be found"));

  void* libcurl = dlopen("libcurl.so.4", RTLD_LAZY | RTLD_LOCAL);
  ASSERT_NE(libcurl, nullptr);
  link_map* loaded = nullptr;
  ASSERT_EQ(dlinfo(libcurl, RTLD_DI_LINKMAP, &loaded), 0);
  const fs::path libraries = scratch_.path() / "libraries";
  fs::create_directories(libraries);
  fs::copy_file(loaded->l_name, libraries / "libcurX.so.4");
  dlclose(libcurl);
  ProcessOptions options;
  options.environment = {{"LD_LIBRARY_PATH", "/nonexistent::" + libraries.string()}};
  EXPECT_THAT(runProcess({binary_.string(), "is-available"}, options),
              Prints("{\"available\":true,\"language\":\"en_US\"}\n"));
}

// With the open-file limit reached while the module is checked, the error says so, not that the
// module is damaged or a library missing. The limit leaves no descriptor beside the host's
// streams and their copies (4 and 5), or one, taken by the module during its check (6).
class OpenFileLimit : public ::testing::TestWithParam<rlim_t> {};

TEST_P(OpenFileLimit, IsReportedAsSuch) {
  if (kSanitizerBuild) GTEST_SKIP() << "a sanitizer's runtime opens files of its own to start";
  ProcessOptions options;
  options.limits[RLIMIT_NOFILE] = GetParam();
  EXPECT_THAT(runBinary({"is-available"}, options),
              Prints("{\"available\":false,\"language\":\"en_US\"}\n"));
  EXPECT_THAT(run({"transcribe", "--no-prepare", "--file", kSpeechFile}, options),
              FailsWith(AllOf(StartsWith("The speech module could not be loaded: "),
                              EndsWith(" cannot be opened: Too many open files"))));
}

INSTANTIATE_TEST_SUITE_P(, OpenFileLimit, ::testing::Values(4, 5, 6));

// The system model with one of its parts replaced. PocketSphinx ends the process from the
// decoder thread that loads a malformed definition (exit() on "garbage", a fault on a file cut
// in half); a file of the acoustic model that is no regular file, or a language model whose
// header claims more than its file holds, is refused before the recogniser opens anything (it
// would wait on a FIFO, read a device without end, or ask for gigabytes). Each run ends with one
// error record saying what failed. (The language model and dictionary themselves must be regular
// files for the model to count as installed at all.)
struct BrokenPart {
  std::string name;
  std::string part;  // relative to the model directory
  // Puts something in place of the part (a link to the installed one until then).
  std::function<void(const fs::path& part)> replace;
  std::string error;
};

class SystemModelWithABrokenPart : public ::testing::TestWithParam<BrokenPart> {};

// The catalog and store of a run whose en_US model is `model`, as the system's.
ProcessOptions withSystemModel(const fs::path& model, const fs::path& scratch) {
  const fs::path catalog = scratch / "catalog.json";
  assets::CatalogLine line;
  line.system = model.string();
  writeText(catalog, assets::catalogJson({line}));
  ProcessOptions options;
  options.environment = {{"ONDEVICE_STT_CATALOG", catalog.string()},
                         {"ONDEVICE_STT_ASSETS", (scratch / "store").string()}};
  return options;
}

TEST_P(SystemModelWithABrokenPart, StopsTheRunWithOneErrorRecord) {
  ScratchDirectory scratch;
  const fs::path model = speech::linkSystemModel(scratch.path() / "model");
  const fs::path part = model / GetParam().part;
  fs::remove_all(part);
  GetParam().replace(part);
  EXPECT_THAT(run({"transcribe", "--no-prepare", "--file", kSpeechFile},
                  withSystemModel(model, scratch.path())),
              FailsWith(GetParam().error));
}

void writeBytes(const fs::path& part, const std::string& bytes) { writeText(part, bytes); }

const std::string kStopped =
    "The speech recogniser stopped the run: the speech model for en_US could not be loaded.";
const std::string kCannotLoad = "Cannot load the speech model for en_US: ";
const std::string kDefinition = std::string(assets::kSystemModel) + "/en-us/mdef";
const std::string kLanguageModel = std::string(assets::kSystemModel) + "/en-us.lm.bin";

const BrokenPart kBrokenParts[] = {
    {"definition of garbage", "en-us/mdef", [](const fs::path& p) { writeBytes(p, "garbage\n"); },
     kStopped},
    {"definition cut in half", "en-us/mdef",
     [](const fs::path& p) {
       const std::string real = readText(kDefinition);
       writeBytes(p, real.substr(0, real.size() / 2));
     },
     kStopped},
    {"definition a FIFO", "en-us/mdef",
     [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
     kCannotLoad + "en-us/mdef is not a regular file"},
    {"noise dictionary a link to a device", "en-us/noisedict",
     [](const fs::path& p) { fs::create_symlink("/dev/zero", p); },
     kCannotLoad + "en-us/noisedict is not a regular file"},
    {"transition matrices a directory", "en-us/transition_matrices",
     [](const fs::path& p) { fs::create_directory(p); },
     kCannotLoad + "en-us/transition_matrices is not a regular file"},
    // The header's count of unigrams set to two billion: 24 GB of tables.
    {"language model claiming two billion unigrams", "en-us.lm.bin",
     [](const fs::path& p) {
       std::string bytes = readText(kLanguageModel);
       bytes.replace(20, 4, std::string("\x00\x94\x35\x77", 4));
       writeBytes(p, bytes);
     },
     kCannotLoad + "the language model en-us.lm.bin claims 2000000000 1-grams, more than its "
                   "27114385 bytes can hold"},
};
INSTANTIATE_TEST_SUITE_P(, SystemModelWithABrokenPart, ::testing::ValuesIn(kBrokenParts),
                         namedBy<&BrokenPart::name>);

// A process whose data may not grow past 80 MB: the recogniser's support library fails an
// allocation while the model loads, prints a line of its own on standard error and ends the
// process. Only the run's record reaches the host.
TEST(SystemModel, AFailedAllocationWhileLoadingLeavesOnlyTheRecord) {
  if (kSanitizerBuild) GTEST_SKIP() << kSanitizerSkipReason;
  ProcessOptions options;
  options.environment = {{"ONDEVICE_STT_THREADS", "1"}};
  options.limits[RLIMIT_DATA] = 80u << 20;
  EXPECT_THAT(run({"transcribe", "--no-prepare", "--file", kSpeechFile}, options),
              FailsWith(kStopped));
}

}  // namespace
}  // namespace ondevice::testing::hostile
