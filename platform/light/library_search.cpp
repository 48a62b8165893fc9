#include "platform/light/library_search.h"

#include <link.h>
#include <sys/auxv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "base/system_error.h"

namespace ondevice::platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCacheFile = "/etc/ld.so.cache";
// A cache lists each library of the system in about 60 bytes: far below this.
constexpr std::uint64_t kMostCacheBytes = 64u << 20;

// The layout glibc's ldconfig writes (glibc's sysdeps/generic/dl-cache.h): an optional block in
// the old format, then the new header and its entries; a string's offset counts from the start
// of the new header.
constexpr std::string_view kOldMagic = "ld.so-1.7.0";
constexpr std::string_view kNewMagic = "glibc-ld.so.cache1.1";
constexpr std::size_t kOldHeaderSize = 16;  // magic, padding, entry count
constexpr std::size_t kOldEntrySize = 12;   // flags, key, value
constexpr std::size_t kNewHeaderSize = 48;  // magic and version, counts, flags, extension, unused
constexpr std::size_t kNewEntrySize = 24;   // flags, key, value, OS version, hardware capabilities

std::uint32_t wordAt(std::string_view bytes, std::size_t offset) {
  std::uint32_t word = 0;
  std::memcpy(&word, bytes.data() + offset, sizeof word);
  return word;
}

// Where the new format's header starts, if the cache has one.
std::optional<std::size_t> newHeaderOffset(std::string_view cache) {
  if (cache.starts_with(kNewMagic)) return 0;
  if (!cache.starts_with(kOldMagic) || cache.size() < kOldHeaderSize) return std::nullopt;
  const std::uint64_t oldEntries = wordAt(cache, kOldMagic.size() + 1);
  std::uint64_t offset = kOldHeaderSize + oldEntries * kOldEntrySize;
  offset = (offset + 7) & ~std::uint64_t{7};  // aligned as the new header's entries
  if (offset > cache.size() || !cache.substr(offset).starts_with(kNewMagic)) return std::nullopt;
  return offset;
}

// Opens `path`, throwing LibrarySearchError where the system is short of descriptors or memory.
RegularFile openCandidate(const char* path) {
  RegularFile file = RegularFile::open(path);
  if (file.refusal() == RegularFile::Refusal::cannotOpen) {
    const int error = file.error();
    if (error == EMFILE || error == ENFILE || error == ENOMEM) {
      throw LibrarySearchError(describeSystemError(std::string(path) + " cannot be opened", error));
    }
  }
  return file;
}

std::string readCache() {
  const RegularFile file = openCandidate(kCacheFile);
  if (file.refusal() != RegularFile::Refusal::none || file.size() > kMostCacheBytes) return {};
  std::string cache(file.size(), '\0');
  if (!file.readExactlyAt(cache.data(), cache.size(), 0)) return {};
  return cache;
}

bool isLoadableLibrary(const std::string& path) {
  const RegularFile file = openCandidate(path.c_str());
  return file.refusal() == RegularFile::Refusal::none && holdsLoadableObject(file);
}

// The file names of the objects loaded in this process ("libc.so.6", ...).
std::vector<std::string> loadedObjectNames() {
  std::vector<std::string> names;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0') {
          static_cast<std::vector<std::string>*>(data)->push_back(
              fs::path(info->dlpi_name).filename().string());
        }
        return 0;
      },
      &names);
  return names;
}

// The directories of a search path ("a:b;c"), $ORIGIN replaced; a directory naming another of
// the loader's tokens is left out. An empty entry is the working directory, as for the loader.
std::vector<std::string> searchDirectories(std::string_view path, const fs::path& origin) {
  std::vector<std::string> directories;
  if (path.empty()) return directories;  // a path set to nothing names no directory
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find_first_of(":;", start), path.size());
    std::string directory(path.substr(start, end - start));
    for (const std::string_view token : {"${ORIGIN}", "$ORIGIN"}) {
      for (auto at = directory.find(token); at != std::string::npos; at = directory.find(token)) {
        directory.replace(at, token.size(), origin.string());
      }
    }
    if (directory.find('$') == std::string::npos) {
      directories.push_back(directory.empty() ? "." : directory);
    }
    start = end + 1;
  }
  return directories;
}

bool foundIn(const std::vector<std::string>& directories, const std::string& name) {
  for (const std::string& directory : directories) {
    if (isLoadableLibrary(directory + "/" + name)) return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> defaultLibraryDirectories() {
  std::vector<std::string> directories;
#ifdef ONDEVICE_LIBRARY_ARCHITECTURE
  const std::string architecture = ONDEVICE_LIBRARY_ARCHITECTURE;
  if (!architecture.empty()) {
    directories = {"/lib/" + architecture, "/usr/lib/" + architecture};
  }
#endif
  if (directories.empty() && sizeof(void*) == 8) directories = {"/lib64", "/usr/lib64"};
  directories.insert(directories.end(), {"/lib", "/usr/lib"});
  return directories;
}

std::vector<std::string> cachedLibraryPaths(const std::string& cache, const std::string& name) {
  std::vector<std::string> paths;
  const auto start = newHeaderOffset(cache);
  if (!start) return paths;
  const std::string_view table = std::string_view(cache).substr(*start);
  if (table.size() < kNewHeaderSize) return paths;
  const std::uint64_t entries = wordAt(table, kNewMagic.size());
  if (entries > (table.size() - kNewHeaderSize) / kNewEntrySize) return paths;
  const auto stringAt = [&](std::uint32_t offset) -> std::optional<std::string_view> {
    if (offset >= table.size()) return std::nullopt;
    const auto end = table.find('\0', offset);
    if (end == std::string_view::npos) return std::nullopt;
    return table.substr(offset, end - offset);
  };
  for (std::uint64_t i = 0; i < entries; ++i) {
    const std::size_t entry = kNewHeaderSize + i * kNewEntrySize;
    const auto key = stringAt(wordAt(table, entry + 4));
    if (!key || *key != name) continue;
    if (const auto value = stringAt(wordAt(table, entry + 8))) paths.emplace_back(*value);
  }
  return paths;
}

std::optional<std::string> missingLibrary(const LibraryNeeds& needs,
                                          const fs::path& objectDirectory) {
  const std::vector<std::string> loaded = loadedObjectNames();
  std::vector<std::string> beforeEnvironment;
  if (needs.rpath && !needs.runpath) {
    beforeEnvironment = searchDirectories(*needs.rpath, objectDirectory);
  }
  std::vector<std::string> environment;
  if (const char* path = std::getenv("LD_LIBRARY_PATH"); path != nullptr && !getauxval(AT_SECURE)) {
    environment = searchDirectories(path, objectDirectory);
  }
  std::vector<std::string> afterEnvironment;
  if (needs.runpath) afterEnvironment = searchDirectories(*needs.runpath, objectDirectory);
  std::optional<std::string> cache;  // read on the first library that needs it

  for (const std::string& name : needs.needed) {
    if (name.find('/') != std::string::npos) {
      if (isLoadableLibrary(name)) continue;
      return name;
    }
    if (std::find(loaded.begin(), loaded.end(), name) != loaded.end()) continue;
    if (foundIn(beforeEnvironment, name) || foundIn(environment, name) ||
        foundIn(afterEnvironment, name)) {
      continue;
    }
    if (!needs.noDefaultLibraries) {
      // Only whether the library is found counts, not where: the default directories, where
      // the system's libraries are, first, so that the cache is seldom read at all.
      if (foundIn(defaultLibraryDirectories(), name)) continue;
      if (!cache) cache = readCache();
      bool cached = false;
      for (const std::string& path : cachedLibraryPaths(*cache, name)) {
        if ((cached = isLoadableLibrary(path))) break;
      }
      if (cached) continue;
    }
    return name;
  }
  return std::nullopt;
}

}  // namespace ondevice::platform
