// The binary with a speech module or a model the recogniser cannot use: a run that cannot
// recognise ends with a record that says why, never as invalid audio and never without a
// record, even when the recogniser's library ends the process that loads the model.

#include <gmock/gmock.h>
#include <dlfcn.h>
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

namespace ondevice::testing::hostile {
namespace {

namespace fs = std::filesystem;
using ::testing::StartsWith;

// The binary copied beside a module of the test's own.
class ModuleBesideACopy : public ::testing::Test {
 protected:
  void SetUp() override { fs::copy_file(binaryPath(), binary_); }

  static std::string realModule() {
    return readText(fs::path(binaryPath()).parent_path() / "ondevice-stt-speech.so");
  }

  ScratchDirectory scratch_;
  const fs::path binary_ = scratch_.path() / "ondevice-stt";
  const fs::path module_ = scratch_.path() / "ondevice-stt-speech.so";
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

// The module garbage, cut short, missing, or needing a library that is not there.
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
};
INSTANTIATE_TEST_SUITE_P(, SpeechModuleThatCannotBeLoaded, ::testing::ValuesIn(kBrokenModules),
                         namedBy<&BrokenModule::name>);

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

// The system model with its model definition replaced: PocketSphinx ends the process from the
// decoder thread that loads it (exit() on "garbage", a fault on a file cut in half). The run
// still ends with exactly one error record, saying what failed.
struct BrokenDefinition {
  std::string name;
  std::function<std::string(const std::string& real)> bytes;
};

class MalformedModel : public ::testing::TestWithParam<BrokenDefinition> {};

TEST_P(MalformedModel, StopsTheRunWithOneErrorRecord) {
  ScratchDirectory scratch;
  const fs::path model = scratch.path() / "model";
  const fs::path system = assets::kSystemModel;
  fs::create_directories(model / "en-us");
  for (const auto& part : fs::directory_iterator(system / "en-us")) {
    if (part.path().filename() != "mdef") {
      fs::create_symlink(part.path(), model / "en-us" / part.path().filename());
    }
  }
  fs::create_symlink(system / "en-us.lm.bin", model / "en-us.lm.bin");
  fs::create_symlink(system / "cmudict-en-us.dict", model / "cmudict-en-us.dict");
  writeText(model / "en-us" / "mdef", GetParam().bytes(readText(system / "en-us" / "mdef")));
  const fs::path catalog = scratch.path() / "catalog.json";
  assets::CatalogLine line;
  line.system = model.string();
  writeText(catalog, assets::catalogJson({line}));

  ProcessOptions options;
  options.environment = {{"ONDEVICE_STT_CATALOG", catalog.string()},
                         {"ONDEVICE_STT_ASSETS", (scratch.path() / "store").string()}};
  EXPECT_THAT(run({"transcribe", "--no-prepare", "--file", kSpeechFile}, options),
              FailsWith("The speech recogniser stopped the run: the speech model for en_US could "
                        "not be loaded."));
}

const BrokenDefinition kBrokenDefinitions[] = {
    {"garbage", [](const std::string&) { return std::string("garbage\n"); }},
    {"cut in half", [](const std::string& real) { return real.substr(0, real.size() / 2); }},
};
INSTANTIATE_TEST_SUITE_P(, MalformedModel, ::testing::ValuesIn(kBrokenDefinitions),
                         namedBy<&BrokenDefinition::name>);

}  // namespace
}  // namespace ondevice::testing::hostile
