#pragma once
// Resumable HTTP(S) download of one file with libcurl.
//
//   downloadResumable({"https://mirror.example/en_US.tar.gz", "/store/en_US.partial",
//                      31500000, "en_US"});
//
// Bytes already in the partial file are kept and only the rest is asked for (HTTP Range); a
// server that ignores the range starts the file over. Only http and https are spoken, redirects
// are followed only to http and https, TLS certificates are verified.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace ondevice::platform {

struct DownloadRequest {
  std::string url;
  std::filesystem::path partialFile;
  std::optional<std::uint64_t> maximumSize;  // a hard cap on the whole file, checked as it comes
  std::string localeIdentifier;              // names the download in error descriptions
  // The transfer fails when its average rate stays below the floor for a whole window: a server
  // that trickles would otherwise hold the locale's lock, and everyone waiting on it, for days.
  std::uint64_t minimumBytesPerSecond = 1024;
  std::chrono::seconds slowWindow{60};
  std::chrono::seconds connectTimeout{30};
};

// libcurl's process-wide initialisation, made once while no other thread runs, before any
// download (module/speech_libraries.h).
void setUpDownloads();

// Returns once the server has sent the whole file (or the partial file already held it).
// Throws PlatformError "Download of assets for <locale> failed: <why>", for a slow transfer
// "... failed: less than 1 KiB/s for 60 s". A download refused for its size removes the
// partial file; other failures keep it for the next attempt to resume. The partial file must be
// a regular file (a link is not followed).
void downloadResumable(const DownloadRequest& request);

}  // namespace ondevice::platform
