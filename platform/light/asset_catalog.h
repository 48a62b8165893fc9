#pragma once
// The catalog of languages the platform can recognise: for each locale where its model lives on
// the system, where its archive can be downloaded, and the names of the model's three parts.
// Built in: en_US from the pocketsphinx-en-us package. A JSON file (the platform's settings name
// it, settings.h) replaces it:
//
//   {"locales": {"en_US": {"system": "/usr/share/pocketsphinx/model/en-us",
//                          "archive": "https://mirror.example/en_US.tar.gz",
//                          "sha256": "<64 hex digits>", "size": 31500000,
//                          "installedSize": 60000000,
//                          "model": {"acoustic": "en-us", "language": "en-us.lm.bin",
//                                    "dictionary": "cmudict-en-us.dict"}}}}
//
// Entries keep the order of the file: the first entry of a language answers for the bare
// language ("en"). Keys may be written in any spelling of a locale ("en-us", "en_US.UTF-8"); each
// is stored as its POSIX identifier ("en_US"), which also names the locale's entries in the
// store. A file is read whole, so it may hold at most kMaximumFileSize bytes; parsing takes time
// linear in its length.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/contract/model_parts.h"

namespace ondevice::platform {

struct CatalogEntry {
  std::string identifier;                      // POSIX style, e.g. "en_US"
  std::optional<std::string> system;           // pre-installed model directory
  std::optional<std::string> archive;          // http(s) URL of a .tar.gz, .tar.xz or .zip
  std::string sha256;                          // lower-case hex of the archive; set with archive
  std::optional<std::uint64_t> size;           // the archive's size in bytes, a hard cap
  std::optional<std::uint64_t> installedSize;  // bytes the extracted model may take, a hard cap
  ModelParts model;
};

class AssetCatalog {
 public:
  // Far above any real catalog (a few hundred bytes per language), and small enough that
  // reading and parsing it stays cheap for every command.
  static constexpr std::uint64_t kMaximumFileSize = 4u << 20;

  // The catalog in force: the one in `file`, else the built-in one. Throws PlatformError when
  // that file cannot be read or parsed, or is larger than kMaximumFileSize.
  static AssetCatalog load(const std::optional<std::string>& file);
  // Parses catalog JSON; `source` names it in error descriptions.
  static AssetCatalog parse(const std::string& json, const std::string& source);
  static AssetCatalog builtIn();

  const std::vector<CatalogEntry>& entries() const { return entries_; }
  // The entry of a POSIX identifier ("en_US"), as the catalog stores it.
  const CatalogEntry* find(const std::string& identifier) const;

 private:
  void add(CatalogEntry entry);

  std::vector<CatalogEntry> entries_;
  std::unordered_map<std::string, std::size_t> indexByIdentifier_;
};

}  // namespace ondevice::platform
