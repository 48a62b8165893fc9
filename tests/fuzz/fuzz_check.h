#pragma once
// What the fuzzers share: a check that stops the run with a message (libFuzzer then keeps the
// input as a crash), and a scratch directory of this process.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#define FUZZ_CHECK(condition, what)                                             \
  do {                                                                          \
    if (!(condition)) {                                                         \
      std::fprintf(stderr, "fuzz check failed: %s (%s) at %s:%d\n", #condition, \
                   std::string(what).c_str(), __FILE__, __LINE__);              \
      std::abort();                                                             \
    }                                                                           \
  } while (false)

namespace ondevice::fuzz {

// A directory of this process under $TMPDIR (or /tmp), made on first use and removed when the
// run ends normally. Left behind on a crash on purpose: it may hold what the crash wrote.
inline const std::filesystem::path& scratchDirectory() {
  static const std::filesystem::path directory = [] {
    const char* base = std::getenv("TMPDIR");
    std::filesystem::path path = std::filesystem::path(base && *base ? base : "/tmp") /
                                 ("ondevice-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    return path;
  }();
  static const bool removedAtExit = [] {
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(scratchDirectory(), ignored);
    });
    return true;
  }();
  (void)removedAtExit;
  return directory;
}

}  // namespace ondevice::fuzz
