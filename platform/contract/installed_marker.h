#pragma once
// The marker the installer writes last into a model in the store (asset_store_layout.h): the
// checksum of the archive the model came from, then the size of each file the recogniser reads,
// so that a model whose files were cut short or replaced since counts as not installed, at the
// cost of a stat per file.
//
//   <sha256 of the archive>\n
//   27114385 en-us.lm.bin\n        a line per file: its size in bytes, a space, and its path
//   2959176 en-us/mdef\n           inside the model directory
//
// Markers written before sizes were recorded hold the checksum line alone; they record no file
// and still read as an installed model.
//
//   writeFileDurably(marker, markerText(sha256, {{"en-us.lm.bin", 27114385}}));
//   if (markerHolds(marker, modelDirectory)) ...

#include <sys/stat.h>

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/contained_path.h"
#include "base/regular_file.h"

namespace ondevice::platform {

struct RecordedFile {
  std::string path;  // inside the model directory; never holds a line feed
  std::uint64_t size = 0;
  friend bool operator==(const RecordedFile&, const RecordedFile&) = default;
};

// A marker of the installer's own is a few hundred bytes; anything far larger is not one.
inline constexpr std::size_t kMostMarkerBytes = 64 * 1024;

inline std::string markerText(const std::string& sha256, const std::vector<RecordedFile>& files) {
  std::string text = sha256 + "\n";
  for (const RecordedFile& file : files) {
    text += std::to_string(file.size) + " " + file.path + "\n";
  }
  return text;
}

// The files a marker records; none when the text is no marker: a line that is not
// "<size> <path inside the directory>", or a last line without its line feed.
inline std::optional<std::vector<RecordedFile>> parseMarker(std::string_view text) {
  std::vector<RecordedFile> files;
  if (text.empty()) return files;
  if (text.back() != '\n') return std::nullopt;
  text.remove_suffix(1);
  const auto firstEnd = text.find('\n');
  if (firstEnd == std::string_view::npos) return files;  // the checksum alone
  text.remove_prefix(firstEnd + 1);
  for (;;) {
    const auto end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    RecordedFile file;
    const auto [sizeEnd, error] =
        std::from_chars(line.data(), line.data() + line.size(), file.size);
    if (error != std::errc() || sizeEnd == line.data() || sizeEnd == line.data() + line.size() ||
        *sizeEnd != ' ') {
      return std::nullopt;
    }
    file.path = std::string(sizeEnd + 1, line.data() + line.size());
    if (!containedComponents(file.path)) return std::nullopt;
    files.push_back(std::move(file));
    if (end == std::string_view::npos) return files;
    text.remove_prefix(end + 1);
  }
}

// Whether each recorded file is, inside `directory`, still a regular file of its recorded size.
inline bool recordedFilesIntact(const std::filesystem::path& directory,
                                const std::vector<RecordedFile>& files) {
  for (const RecordedFile& file : files) {
    struct stat info {};
    if (::stat((directory / file.path).c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uint64_t>(info.st_size) != file.size) {
      return false;
    }
  }
  return true;
}

// Whether `marker` is a marker (read without waiting, whatever the path names) whose recorded
// files are intact in `directory`. Never throws but for a lack of memory.
inline bool markerHolds(const std::filesystem::path& marker,
                        const std::filesystem::path& directory) {
  const RegularFile file = RegularFile::open(marker.c_str());
  if (file.refusal() != RegularFile::Refusal::none || file.size() > kMostMarkerBytes) return false;
  std::string text;
  if (file.readAll(text, kMostMarkerBytes) != 0 || text.size() > kMostMarkerBytes) return false;
  const auto files = parseMarker(text);
  return files && recordedFilesIntact(directory, *files);
}

}  // namespace ondevice::platform
