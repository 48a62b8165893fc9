// Looking for the libraries a shared object needs as the dynamic loader does, without loading
// them: the search paths an object names, $ORIGIN, names with a slash, files that are no
// library, and the loader's cache in the formats ldconfig writes.

#include "platform/light/library_search.h"

#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <link.h>

#include <filesystem>
#include <optional>
#include <string>

#include "tests/support/case_name.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace ondevice::platform {
namespace {

namespace fs = std::filesystem;
using ondevice::testing::namedBy;
using ondevice::testing::readText;
using ondevice::testing::writeText;
using ::testing::Contains;

// Where the loader finds libcurl.so.4 on this machine.
fs::path loadedLibcurl() {
  void* handle = dlopen("libcurl.so.4", RTLD_LAZY | RTLD_LOCAL);
  if (handle == nullptr) return {};
  link_map* loaded = nullptr;
  const fs::path path = dlinfo(handle, RTLD_DI_LINKMAP, &loaded) == 0 ? loaded->l_name : "";
  dlclose(handle);
  return path;
}

// An object that needs "libcurX.so.4" (a copy of libcurl under a name no system holds, kept in
// libs/ beside the object, or a text file in its place), and where it says to look.
struct Needs {
  std::string name;
  LibraryNeeds needs;
  bool copyIsALibrary;
  bool found;
};

class LibrarySearchPath : public ::testing::TestWithParam<Needs> {};

TEST_P(LibrarySearchPath, FindsWhatTheLoaderWould) {
  ondevice::testing::ScratchDirectory scratch;
  const fs::path libcurl = loadedLibcurl();
  ASSERT_FALSE(libcurl.empty());
  fs::create_directories(scratch.path() / "libs");
  const fs::path copy = scratch.path() / "libs" / "libcurX.so.4";
  if (GetParam().copyIsALibrary) {
    fs::copy_file(libcurl, copy);
  } else {
    writeText(copy, "not a library\n");
  }
  LibraryNeeds needs = GetParam().needs;
  for (std::string& name : needs.needed) {
    if (name.starts_with("$SCRATCH")) name = scratch.path().string() + name.substr(8);
  }
  const auto missing = missingLibrary(needs, scratch.path());
  EXPECT_EQ(missing, GetParam().found ? std::nullopt : std::optional(needs.needed.back()));
}

const Needs kNeeds[] = {
    {"runpath with origin", {{"libcurX.so.4"}, std::nullopt, "$ORIGIN/libs"}, true, true},
    {"runpath with braced origin",
     {{"libcurX.so.4"}, std::nullopt, "/no:${ORIGIN}/libs"},
     true,
     true},
    {"rpath", {{"libcurX.so.4"}, "$ORIGIN/libs", std::nullopt}, true, true},
    {"rpath passed over for a runpath", {{"libcurX.so.4"}, "$ORIGIN/libs", "/no"}, true, false},
    {"another token", {{"libcurX.so.4"}, std::nullopt, "$ORIGIN/$LIB/../libs"}, true, false},
    {"nowhere named", {{"libc.so.6", "libcurX.so.4"}, std::nullopt, std::nullopt}, true, false},
    {"no library", {{"libcurX.so.4"}, std::nullopt, "$ORIGIN/libs"}, false, false},
    {"a path", {{"$SCRATCH/libs/libcurX.so.4"}, std::nullopt, std::nullopt}, true, true},
    {"a path to no library",
     {{"$SCRATCH/libs/libcurX.so.4"}, std::nullopt, std::nullopt},
     false,
     false},
    {"system libraries",
     {{"libc.so.6", "libm.so.6", "libcurl.so.4"}, std::nullopt, std::nullopt},
     true,
     true},
};
INSTANTIATE_TEST_SUITE_P(, LibrarySearchPath, ::testing::ValuesIn(kNeeds), namedBy<&Needs::name>);

// The cache as ldconfig writes it, in its own format and in the one that keeps an old-format
// block in front, lists where the loader finds libcurl.
class LibraryCache : public ::testing::TestWithParam<std::string> {};

TEST_P(LibraryCache, ListsTheLibrariesOfTheSystem) {
  ondevice::testing::ScratchDirectory scratch;
  const fs::path cache = scratch.path() / "ld.so.cache";
  const auto made = ondevice::testing::runProcess(
      {"/sbin/ldconfig", "-C", cache.string(), "-c", GetParam(), "-f", "/etc/ld.so.conf"});
  if (made.exitStatus != 0) GTEST_SKIP() << "ldconfig cannot write a cache here: " << made.err;
  const std::string bytes = readText(cache);
  EXPECT_THAT(cachedLibraryPaths(bytes, "libcurl.so.4"), Contains(loadedLibcurl().string()));
  EXPECT_TRUE(cachedLibraryPaths(bytes, "libcurX.so.4").empty());
  EXPECT_TRUE(cachedLibraryPaths(bytes.substr(0, 100), "libcurl.so.4").empty());  // cut short
}

INSTANTIATE_TEST_SUITE_P(, LibraryCache, ::testing::Values("new", "compat"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace ondevice::platform
