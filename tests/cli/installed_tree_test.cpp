// The tree that `cmake --install` makes, as a host finds it: the installed binary answers as the
// build's does from any prefix, also once the tree is moved; it opens the module of its own tree
// and no other (not one in the build tree, the working directory, LD_LIBRARY_PATH or beside the
// binary); and the manual page and the service's units are where man and systemd look.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/binary_records.h"
#include "tests/support/case_name.h"
#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tests/support/speech_test_support.h"

namespace ondevice::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// This build installed into a prefix of the test's own (with a blank in its name, as a host's
// folder may have), without the warm service of the machine, which would answer in the module's
// place, and with an asset store of the test's own.
class InstalledTree : public ::testing::Test {
 protected:
  void SetUp() override {
    runTool({ONDEVICE_STT_CMAKE_COMMAND, "--install", ONDEVICE_STT_BUILD_DIR, "--prefix",
             prefix_.string()});
    options_.environment = {{"ONDEVICE_STT_SERVICE", "off"},
                            {"ONDEVICE_STT_ASSETS", (scratch_.path() / "store").string()}};
    options_.workingDirectory = "/";
  }

  ScratchDirectory scratch_;
  const fs::path prefix_ = scratch_.path() / "installed tree";
  const fs::path binary_ = prefix_ / "bin" / "ondevice-stt";
  ProcessOptions options_;
};

class MovedInstalledTree : public InstalledTree,
                           public ::testing::WithParamInterface<std::vector<std::string>> {};

// Nothing of the place it was installed to is needed where it lies now.
TEST_P(MovedInstalledTree, AnswersAsTheBuildsBinaryDoes) {
  const fs::path moved = scratch_.path() / "moved";
  fs::rename(prefix_, moved);
  std::vector<std::string> installed = {(moved / "bin" / "ondevice-stt").string()};
  installed.insert(installed.end(), GetParam().begin(), GetParam().end());
  const ProcessResult r = runProcess(installed, options_);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, runBinary(GetParam(), options_).out);
}

INSTANTIATE_TEST_SUITE_P(
    , MovedInstalledTree,
    ::testing::Values(std::vector<std::string>{"version"}, std::vector<std::string>{"is-available"},
                      std::vector<std::string>{"transcribe", "--file",
                                               speech::librivoxClips()[1].path}),
    [](const auto& info) { return caseName(info.param.front()); });

// Where a module lies that is not the one of the installed tree, with the tree's own removed:
// each would be the one a lookup by path, by the working directory or by the loader's search
// took.
struct ModuleElsewhere {
  std::string name;
  std::function<void(const fs::path& binary, ProcessOptions& options)> place;
};

class InstalledTreeWithoutItsModule : public InstalledTree,
                                      public ::testing::WithParamInterface<ModuleElsewhere> {};

TEST_P(InstalledTreeWithoutItsModule, IsNotAvailableAndSaysWhichModuleIsMissing) {
  const fs::path module = moduleOf(binary_);
  ASSERT_TRUE(fs::remove(module));
  GetParam().place(binary_, options_);
  EXPECT_THAT(runProcess({binary_.string(), "is-available"}, options_),
              Prints("{\"available\":false,\"language\":\"en_US\"}\n"));
  EXPECT_THAT(runProcess({binary_.string(), "transcribe", "--no-prepare", "--file",
                          speech::librivoxClips()[1].path},
                         options_),
              FailsWith("The speech module could not be loaded: " + module.string() +
                        " is missing, damaged or not built for this machine"));
}

const fs::path kBuildsModuleFolder = moduleOf(binaryPath()).parent_path();

const ModuleElsewhere kModulesElsewhere[] = {
    {"in the build tree", [](const fs::path&, ProcessOptions&) {}},
    {"in the working directory",
     [](const fs::path&, ProcessOptions& options) {
       options.workingDirectory = kBuildsModuleFolder;
     }},
    {"on LD_LIBRARY_PATH",
     [](const fs::path&, ProcessOptions& options) {
       options.environment["LD_LIBRARY_PATH"] = kBuildsModuleFolder.string();
     }},
    {"beside the binary",
     [](const fs::path& binary, ProcessOptions&) {
       fs::copy_file(moduleOf(binaryPath()), binary.parent_path() / "ondevice-stt-speech.so");
     }},
};
INSTANTIATE_TEST_SUITE_P(, InstalledTreeWithoutItsModule, ::testing::ValuesIn(kModulesElsewhere),
                         namedBy<&ModuleElsewhere::name>);

// man finds the page in the tree's share/man and renders it without a warning (as lintian
// checks a package's pages).
TEST_F(InstalledTree, HasAManualPageThatManRendersWithoutWarnings) {
  ProcessOptions options;
  options.environment = {{"MANWIDTH", "80"}, {"LC_ALL", "C.UTF-8"}};
  const ProcessResult r = runProcess({"man", "-M", (prefix_ / "share" / "man").string(),
                                      "--warnings", "-E", "UTF-8", "-Tutf8", "ondevice-stt"},
                                     options);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_THAT(r.out, HasSubstr("ondevice-stt transcribe"));
}

// The units name the binary where it was installed, and pass systemd's own check, which also
// finds that binary there.
TEST_F(InstalledTree, HasServiceUnitsThatStartTheInstalledBinary) {
  const fs::path units = prefix_ / "lib" / "systemd" / "user";
  EXPECT_THAT(readText(units / "ondevice-stt.service"),
              HasSubstr("\nExecStart=\"" + binary_.string() + "\" serve\n"));
  ProcessOptions options;
  options.environment["XDG_RUNTIME_DIR"] = scratch_.path().string();  // a user manager's
  const ProcessResult r =
      runProcess({"systemd-analyze", "verify", "--user", (units / "ondevice-stt.socket").string(),
                  (units / "ondevice-stt.service").string()},
                 options);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace ondevice::testing
