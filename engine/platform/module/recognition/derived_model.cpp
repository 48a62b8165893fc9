#include "engine/platform/module/recognition/derived_model.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <system_error>
#include <vector>

#include "base/regular_file.h"
#include "base/unique_fd.h"
#include "base/write_all.h"
#include "engine/platform/module/recognition/pocketsphinx_decoder.h"

namespace ondevice::platform {
namespace {

namespace fs = std::filesystem;

// Changes whenever what is derived, or how, changes: forms made otherwise are then not found.
constexpr std::string_view kFormLine = "## ondevice-stt derived dictionary, form 1\n";
constexpr std::string_view kCompletePrefix = "## complete ";
// The longest last line a complete file can have: the prefix, a length and a line feed.
constexpr size_t kLongestLastLine = 64;

// "<path> <size> <modification time in ns>" of a file, or none when it cannot be examined or
// its path would break the line.
std::optional<std::string> fileIdentity(const std::string& path) {
  if (path.find_first_of("\r\n") != std::string::npos) return std::nullopt;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  const int64_t modified = int64_t{info.st_mtim.tv_sec} * 1'000'000'000 + info.st_mtim.tv_nsec;
  return path + " " + std::to_string(info.st_size) + " " + std::to_string(modified);
}

// FNV-1a: a short, stable name for a header; the header itself is compared in full.
std::string nameFor(std::string_view header) {
  uint64_t hash = 14695981039346656037ull;
  for (const char c : header) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  char name[32];
  std::snprintf(name, sizeof name, "%016llx.dict", static_cast<unsigned long long>(hash));
  return name;
}

// Whether `file`, `size` bytes long, ends with the line that gives the length before it.
bool endsComplete(const RegularFile& file, uint64_t size) {
  const size_t tailSize = static_cast<size_t>(std::min<uint64_t>(size, kLongestLastLine));
  std::string tail(tailSize, '\0');
  if (!file.readExactlyAt(tail.data(), tail.size(), static_cast<off_t>(size - tailSize))) {
    return false;
  }
  if (tail.empty() || tail.back() != '\n') return false;
  const size_t lineStart = tail.rfind('\n', tail.size() - 2);
  if (lineStart == std::string::npos) return false;
  const std::string_view line = std::string_view(tail).substr(lineStart + 1);
  if (!line.starts_with(kCompletePrefix)) return false;
  const std::string_view digits = line.substr(kCompletePrefix.size(), line.size() -
                                                                          kCompletePrefix.size() - 1);
  uint64_t before = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), before);
  return error == std::errc() && end == digits.data() + digits.size() &&
         before + line.size() == size;
}

// Removes every entry of `directory` but `keep`. Never throws.
void removeAllBut(const fs::path& directory, const fs::path& keep) {
  std::error_code error;
  std::vector<fs::path> others;
  for (auto it = fs::directory_iterator(directory, error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    if (it->path() != keep) others.push_back(it->path());
  }
  for (const auto& path : others) fs::remove_all(path, error);
}

// Writes `content` to a new file in `directory`, syncs it, renames it onto `target` and syncs
// the directory (open as `directoryFd`). False, with nothing left behind, on any failure.
bool writeWhole(const fs::path& directory, int directoryFd, const fs::path& target,
                std::string_view content) {
  std::string temporary = (directory / ".writing-XXXXXX").string();
  const UniqueFd fd(::mkstemp(temporary.data()));
  if (!fd) return false;
  const bool written = ::fchmod(fd.get(), 0644) == 0 && writeAll(fd.get(), content) == 0 &&
                       ::fsync(fd.get()) == 0 &&
                       ::rename(temporary.c_str(), target.c_str()) == 0;
  if (!written) {
    ::unlink(temporary.c_str());
    return false;
  }
  return ::fsync(directoryFd) == 0;
}

}  // namespace

DerivedModel::DerivedModel(ModelFiles source, fs::path directory)
    : source_(std::move(source)), directory_(std::move(directory)) {}

std::optional<std::string> DerivedModel::header() const {
  const auto languageModel = fileIdentity(source_.languageModel);
  const auto dictionary = fileIdentity(source_.dictionary);
  if (!languageModel || !dictionary) return std::nullopt;
  return std::string(kFormLine) + "## language model " + *languageModel + "\n## dictionary " +
         *dictionary + "\n";
}

std::optional<ModelFiles> DerivedModel::find() const {
  const auto expected = header();
  if (!expected) return std::nullopt;
  const fs::path path = directory_ / nameFor(*expected);
  const RegularFile file = RegularFile::open(path.c_str());
  if (file.refusal() != RegularFile::Refusal::none) return std::nullopt;
  const uint64_t size = file.size();
  if (size < expected->size() + kCompletePrefix.size()) return std::nullopt;
  std::string header(expected->size(), '\0');
  if (!file.readExactlyAt(header.data(), header.size(), 0) || header != *expected ||
      !endsComplete(file, size)) {
    return std::nullopt;
  }
  return ModelFiles{source_.acousticModel, source_.languageModel, path.string()};
}

bool DerivedModel::write(std::string_view dictionary) const {
  const auto expected = header();
  if (!expected) return false;
  std::error_code error;
  fs::create_directories(directory_, error);
  if (error) return false;
  // One writer at a time: it alone removes what others left.
  const UniqueFd directoryFd(::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directoryFd || ::flock(directoryFd.get(), LOCK_EX | LOCK_NB) != 0) return false;
  if (find()) return true;  // written meanwhile
  const fs::path target = directory_ / nameFor(*expected);
  removeAllBut(directory_, target);
  std::string content = *expected;
  content.append(dictionary);
  content += std::string(kCompletePrefix) + std::to_string(content.size()) + "\n";
  return writeWhole(directory_, directoryFd.get(), target, content);
}

std::string restrictDictionary(std::string_view dictionary,
                               const std::function<bool(const std::string&)>& known) {
  constexpr std::string_view kBlanks = " \t\r\n\v\f";
  std::string kept;
  kept.reserve(dictionary.size());
  std::string word;
  while (!dictionary.empty()) {
    const size_t end = dictionary.find('\n');
    const std::string_view line = dictionary.substr(0, end);
    dictionary.remove_prefix(end == std::string_view::npos ? dictionary.size() : end + 1);
    // PocketSphinx skips these comment lines; everything else it splits at blanks.
    if (line.starts_with("##") || line.starts_with(";;")) continue;
    const size_t first = line.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) continue;
    const std::string_view entry = line.substr(first);
    word.assign(baseWord(entry.substr(0, entry.find_first_of(kBlanks))));
    if (!known(word)) continue;
    kept.append(line);
    kept += '\n';
  }
  return kept;
}

}  // namespace ondevice::platform
