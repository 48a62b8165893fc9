#pragma once
// Helpers of the asset tests: the project's own HTTP server on 127.0.0.1
// (tests/support/asset_server.py), archives made at test time (tests/support/asset_archive.py)
// and catalogs.
//
//   ScratchDirectory scratch;
//   assets::AssetServer server(scratch.path() / "served");
//   auto url = server.url("drop-once", "en_US.tar.gz");
//   ... run prepare ...
//   EXPECT_EQ(server.requests().back().range, "bytes=15000000-");

#include <time.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/process.h"

namespace ondevice::testing::assets {

inline constexpr const char* kSystemModel = "/usr/share/pocketsphinx/model/en-us";

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
  std::string scheme_;
  std::optional<Process> process_;
  int port_ = 0;
};

// An archive of the model in `source`: at the top, or under `top`/ when given. Each of
// `replacements` ("en-us/mdef=garbage") gives a file (relative to `source`) other content.
void makeModelArchive(const std::filesystem::path& source, const std::filesystem::path& out,
                      const std::string& format, const std::string& top = "",
                      const std::vector<std::string>& replacements = {});
void makeHostileArchive(const std::string& kind, const std::filesystem::path& out,
                        const std::string& format = "tar.gz", const std::string& target = "");

std::string sha256Hex(const std::filesystem::path& file);

// One catalog entry, written as JSON by catalogJson.
struct CatalogLine {
  std::string identifier = "en_US";
  std::optional<std::string> system;
  std::optional<std::string> archive;
  std::optional<std::string> sha256;
  std::optional<std::uintmax_t> size;
};
std::string catalogJson(const std::vector<CatalogLine>& entries);

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
