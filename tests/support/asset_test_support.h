#pragma once
// Helpers of the asset tests: a scratch directory, the project's own HTTP server on 127.0.0.1
// (tests/support/asset_server.py), archives made at test time (tests/support/asset_archive.py),
// catalogs, and the binary run in the background so that a test can watch or kill it.
//
//   assets::ScratchDirectory scratch;
//   assets::AssetServer server(scratch.path() / "served");
//   auto url = server.url("drop-once", "en_US.tar.gz");
//   ... run prepare ...
//   EXPECT_EQ(server.requests().back().range, "bytes=15000000-");

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace ondevice::testing::assets {

inline constexpr const char* kSystemModel = "/usr/share/pocketsphinx/model/en-us";

class ScratchDirectory {
 public:
  ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  ~ScratchDirectory();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

struct LoggedRequest {
  std::string path;
  std::string range;  // the Range header, "-" when there was none
};

// Serves the files of `root`; stopped when destroyed. With `untrustedTls` it speaks https with
// a self-signed certificate that no client trusts.
class AssetServer {
 public:
  explicit AssetServer(std::filesystem::path root, bool untrustedTls = false);
  AssetServer(const AssetServer&) = delete;
  AssetServer& operator=(const AssetServer&) = delete;
  ~AssetServer();

  int port() const { return port_; }
  std::string url(const std::string& fault, const std::string& file) const;
  std::vector<LoggedRequest> requests() const;

 private:
  std::filesystem::path logFile_;
  pid_t pid_ = -1;
  int port_ = 0;
  std::string scheme_ = "http";
};

// Runs python3 with a script of tests/support; throws std::runtime_error when it fails.
void runSupportScript(const std::string& script, const std::vector<std::string>& arguments);
// An archive of the model in `source`: at the top, or under `top`/ when given. Each of
// `replacements` ("en-us/mdef=garbage") gives a file (relative to `source`) other content.
void makeModelArchive(const std::filesystem::path& source, const std::filesystem::path& out,
                      const std::string& format, const std::string& top = "",
                      const std::vector<std::string>& replacements = {});
void makeHostileArchive(const std::string& kind, const std::filesystem::path& out,
                        const std::string& format = "tar.gz", const std::string& target = "");

std::string sha256Hex(const std::filesystem::path& file);
std::uintmax_t fileSize(const std::filesystem::path& file);
void writeText(const std::filesystem::path& file, const std::string& text);

// One catalog entry, written as JSON by catalogJson.
struct CatalogLine {
  std::string identifier = "en_US";
  std::optional<std::string> system;
  std::optional<std::string> archive;
  std::optional<std::string> sha256;
  std::optional<std::uintmax_t> size;
};
std::string catalogJson(const std::vector<CatalogLine>& entries);

// The binary started in the background with `environment` added to the test's own.
class BackgroundBinary {
 public:
  BackgroundBinary(const std::vector<std::string>& arguments,
                   const std::map<std::string, std::string>& environment,
                   const std::filesystem::path& outputDirectory);
  BackgroundBinary(const BackgroundBinary&) = delete;
  BackgroundBinary& operator=(const BackgroundBinary&) = delete;
  ~BackgroundBinary();  // kills it if still running

  pid_t pid() const { return pid_; }
  void kill(int signal);
  // Waits for the end (killing it after `timeout`) and collects its streams.
  ProcessResult wait(std::chrono::milliseconds timeout = std::chrono::minutes(2));

 private:
  pid_t pid_ = -1;
  std::filesystem::path out_;
  std::filesystem::path err_;
  std::optional<ProcessResult> result_;
};

// A tmpfs mounted for the owner's lifetime (options such as "size=256k,nr_inodes=20"); not
// mounted when the machine does not allow it, which the test then reports as skipped.
class TemporaryMount {
 public:
  TemporaryMount(const std::filesystem::path& at, const std::string& options);
  TemporaryMount(const TemporaryMount&) = delete;
  TemporaryMount& operator=(const TemporaryMount&) = delete;
  ~TemporaryMount();
  bool mounted() const { return mounted_; }

 private:
  std::filesystem::path at_;
  bool mounted_ = false;
};

// Polls `condition` every millisecond until it holds or `timeout` passes.
template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    struct timespec pause {
      0, 1000000
    };
    nanosleep(&pause, nullptr);
  }
  return condition();
}

}  // namespace ondevice::testing::assets
