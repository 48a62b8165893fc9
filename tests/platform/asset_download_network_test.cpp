// The resumable downloader against the project's own HTTP server on 127.0.0.1: ranges, faults,
// the size cap, slow servers and the allowed protocols.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "engine/platform/module/assets/http_download.h"
#include "engine/platform/platform_error.h"
#include "tests/support/asset_test_support.h"

namespace ondevice::platform {
namespace {

namespace assets = ondevice::testing::assets;
namespace fs = std::filesystem;

class AssetDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(served_);
    std::mt19937 random(5);
    content_.resize(1 << 20);
    for (char& c : content_) c = static_cast<char>(random());
    assets::writeText(served_ / "en_US.tar.gz", content_);
  }

  DownloadRequest request(const std::string& fault) const {
    DownloadRequest r;
    r.url = server_.url(fault, "en_US.tar.gz");
    r.partialFile = partial_;
    r.maximumSize = content_.size();
    r.localeIdentifier = "en_US";
    r.slowWindow = std::chrono::seconds(2);
    r.connectTimeout = std::chrono::seconds(5);
    return r;
  }

  std::string partialContent() const {
    std::ifstream in(partial_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Runs the download expecting a failure; answers its description.
  static std::string failureOf(const DownloadRequest& r) {
    try {
      downloadResumable(r);
    } catch (const PlatformError& error) {
      return error.what();
    }
    return "(no failure)";
  }

  assets::ScratchDirectory scratch_;
  fs::path served_ = scratch_.path() / "served";
  fs::path partial_ = scratch_.path() / "en_US.partial";
  std::string content_;
  assets::AssetServer server_{served_};
};

TEST_F(AssetDownloadTest, DownloadsTheWholeFileWithoutARange) {
  downloadResumable(request("ok"));
  EXPECT_TRUE(partialContent() == content_);
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].range, "-");
}

TEST_F(AssetDownloadTest, FollowsRedirectsToHttp) {
  downloadResumable(request("redirect"));
  EXPECT_TRUE(partialContent() == content_);
  EXPECT_EQ(server_.requests().size(), 2u);
}

TEST_F(AssetDownloadTest, ResumesWhatAnEarlierAttemptLeft) {
  const size_t kept = 300000;
  assets::writeText(partial_, content_.substr(0, kept));
  downloadResumable(request("ok"));
  EXPECT_TRUE(partialContent() == content_);
  ASSERT_EQ(server_.requests().size(), 1u);
  EXPECT_EQ(server_.requests()[0].range, "bytes=300000-");
}

TEST_F(AssetDownloadTest, StartsOverWhenTheServerIgnoresTheRange) {
  assets::writeText(partial_, std::string(300000, 'x'));
  downloadResumable(request("no-range"));
  EXPECT_TRUE(partialContent() == content_);
}

TEST_F(AssetDownloadTest, ACompletePartialFileNeedsNoMoreBytes) {
  assets::writeText(partial_, content_);
  downloadResumable(request("ok"));  // size known: no request at all
  EXPECT_TRUE(server_.requests().empty());

  auto unsized = request("ok");
  unsized.maximumSize.reset();
  downloadResumable(unsized);  // size unknown: the server answers 416 to the range
  EXPECT_TRUE(partialContent() == content_);
  ASSERT_EQ(server_.requests().size(), 1u);
}

TEST_F(AssetDownloadTest, ADroppedConnectionFailsAndTheNextAttemptResumes) {
  const std::string failure = failureOf(request("drop-once"));
  EXPECT_TRUE(failure.starts_with("Download of assets for en_US failed: ")) << failure;
  EXPECT_NE(failure.find("partial file"), std::string::npos) << failure;  // curl's own words
  const auto kept = fs::file_size(partial_);
  EXPECT_GT(kept, 0u);
  EXPECT_LT(kept, content_.size());

  downloadResumable(request("drop-once"));
  EXPECT_TRUE(partialContent() == content_);
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].range, "bytes=" + std::to_string(kept) + "-");
}

// HTTP errors, refused connections and dropped transfers are covered through the binary
// (asset_prepare_network_test); these are the protocol rules.
TEST_F(AssetDownloadTest, OnlyHttpAndHttpsAreSpoken) {
  auto ftp = request("ok");
  ftp.url = "ftp://127.0.0.1:" + std::to_string(server_.port()) + "/en_US.tar.gz";
  auto file = request("ok");
  file.url = "file://" + (served_ / "en_US.tar.gz").string();
  const struct {
    DownloadRequest request;
    std::string expected;
  } cases[] = {
      {ftp, "Download of assets for en_US failed: only http and https URLs are allowed"},
      {file, "Download of assets for en_US failed: only http and https URLs are allowed"},
      {request("redirect-ftp"), "Download of assets for en_US failed: Unsupported protocol"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request.url);
    const std::string failure = failureOf(c.request);
    EXPECT_TRUE(failure.starts_with(c.expected)) << failure;
    EXPECT_TRUE(!fs::exists(partial_) || fs::file_size(partial_) == 0);
  }
}

TEST_F(AssetDownloadTest, CertificatesAreVerified) {
  assets::AssetServer untrusted(served_, true);
  auto r = request("ok");
  r.url = untrusted.url("ok", "en_US.tar.gz");
  const std::string failure = failureOf(r);
  EXPECT_TRUE(failure.starts_with("Download of assets for en_US failed: ")) << failure;
  EXPECT_NE(failure.find("certificate"), std::string::npos) << failure;
  EXPECT_TRUE(!fs::exists(partial_) || fs::file_size(partial_) == 0);
}

TEST_F(AssetDownloadTest, TheCatalogSizeIsAHardCap) {
  auto announced = request("ok");  // Content-Length already says too much
  announced.maximumSize = content_.size() - 1;
  auto unannounced = request("chunked");  // no length: stopped once the cap is passed
  unannounced.maximumSize = content_.size() / 2;
  for (const auto& r : {announced, unannounced}) {
    SCOPED_TRACE(r.url);
    EXPECT_EQ(failureOf(r),
              "Download of assets for en_US failed: the archive is larger than "
              "the catalog's size of " +
                  std::to_string(*r.maximumSize) + " bytes");
    EXPECT_FALSE(fs::exists(partial_));
  }
  auto fits = request("chunked");
  downloadResumable(fits);
  EXPECT_TRUE(partialContent() == content_);
}

// A server that stops, and one that trickles 256 bytes a second: both stay below the floor of
// 1 KiB/s for the whole window.
TEST_F(AssetDownloadTest, AServerBelowTheRateFloorFailsAfterTheWindow) {
  for (const char* fault : {"stall", "trickle"}) {
    SCOPED_TRACE(fault);
    fs::remove(partial_);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(failureOf(request(fault)),
              "Download of assets for en_US failed: less than 1 KiB/s for 2 s");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_GT(fs::file_size(partial_), 0u);  // kept for the next attempt
  }
}

}  // namespace
}  // namespace ondevice::platform
