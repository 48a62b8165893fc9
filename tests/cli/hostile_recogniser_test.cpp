// The binary with a speech module or a model the recogniser cannot use: a run that cannot
// recognise ends with a record that says why, never as invalid audio and never without a
// record, even when the recogniser's library ends the process that loads the model.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

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

// The module garbage, cut short, or missing.
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
