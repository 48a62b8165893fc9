#pragma once
// What the hostile-input tests share. Whatever the input, a run of the binary ends on its own
// within a bound, with status 0 and one record line on standard output, or status 1 and one
// error record line on standard error, and nothing else on either stream (EndsWithOneRecord).

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace ondevice::testing::hostile {

inline constexpr auto kBound = std::chrono::seconds(60);
inline const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD
inline const std::string kSpeechFile =
    "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0870.wav";

// The binary with `arguments`, killed if it outlasts the bound.
inline ProcessResult run(const std::vector<std::string>& arguments, ProcessOptions options = {}) {
  options.timeout = kBound;
  return runBinary(arguments, options);
}

// `path` with a leading "$DIR" standing for `directory`, so that a table can name files in the
// scratch directory of the test.
inline std::string inDirectory(const std::string& path, const std::filesystem::path& directory) {
  return path.starts_with("$DIR") ? directory.string() + path.substr(4) : path;
}

}  // namespace ondevice::testing::hostile
