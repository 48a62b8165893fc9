// Model archives of arbitrary bytes, extracted into a fresh directory that sits in a box beside
// a bait file.
//
// Checked: extraction either succeeds or throws PlatformError; whatever happens, the box holds
// nothing but the extraction directory and the untouched bait (same bytes, one link); after a
// success the directory holds only regular files, directories and links that resolve inside
// it, with no set-id bits.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/api/platform_error.h"
#include "platform/module/assets/archive_extractor.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kBait = "not to be touched\n";

void writeFile(const fs::path& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  FUZZ_CHECK(out.good(), path.string());
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool isInside(const fs::path& path, const fs::path& top) {
  auto p = path.begin();
  for (auto t = top.begin(); t != top.end(); ++t, ++p) {
    if (p == path.end() || *p != *t) return false;
  }
  return true;
}

void checkExtracted(const fs::path& top) {
  for (auto it = fs::recursive_directory_iterator(top); it != fs::recursive_directory_iterator();
       ++it) {
    struct stat status {};
    FUZZ_CHECK(::lstat(it->path().c_str(), &status) == 0, it->path().string());
    FUZZ_CHECK((status.st_mode & (S_ISUID | S_ISGID)) == 0, "set-id bit on " + it->path().string());
    if (S_ISLNK(status.st_mode)) {
      std::error_code error;
      const fs::path resolved = fs::weakly_canonical(it->path(), error);
      FUZZ_CHECK(!error && isInside(resolved, top), "link leaves: " + it->path().string());
      continue;
    }
    FUZZ_CHECK(S_ISREG(status.st_mode) || S_ISDIR(status.st_mode),
               "special file " + it->path().string());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path scratch = ondevice::fuzz::scratchDirectory();
  const fs::path box = scratch / "box";
  const fs::path destination = box / "staging";
  const fs::path bait = box / "bait";
  const fs::path archive = scratch / "input.archive";
  fs::remove_all(box);
  fs::create_directories(destination);
  writeFile(bait, reinterpret_cast<const uint8_t*>(kBait), std::char_traits<char>::length(kBait));
  writeFile(archive, data, size);

  bool extracted = false;
  try {
    // A bound far above what a fuzzed input can declare without being a bomb.
    const ondevice::platform::SizeLimit limit{64ull << 20, "the fuzzer's bound"};
    ondevice::platform::measureArchive(archive, limit, "The fuzzed archive");
    ondevice::platform::extractArchive(archive, destination, "The fuzzed archive", limit);
    extracted = true;
  } catch (const ondevice::platform::PlatformError&) {
  }

  for (const auto& entry : fs::directory_iterator(box)) {
    const auto name = entry.path().filename();
    FUZZ_CHECK(name == "staging" || name == "bait", "written outside: " + entry.path().string());
  }
  for (const auto& entry : fs::directory_iterator(scratch)) {
    const auto name = entry.path().filename();
    FUZZ_CHECK(name == "box" || name == "input.archive",
               "written outside: " + entry.path().string());
  }
  struct stat baitStatus {};
  FUZZ_CHECK(::lstat(bait.c_str(), &baitStatus) == 0 && S_ISREG(baitStatus.st_mode),
             "the bait was replaced");
  FUZZ_CHECK(baitStatus.st_nlink == 1, "the bait was linked into the archive");
  FUZZ_CHECK(readFile(bait) == kBait, "the bait was changed");
  if (extracted) checkExtracted(fs::canonical(destination));
  fs::remove_all(box);
  return 0;
}
