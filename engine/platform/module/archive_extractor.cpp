#include "engine/platform/module/archive_extractor.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <sstream>
#include <system_error>

#include "engine/platform/platform_error.h"

namespace ondevice::platform {
namespace {

namespace fs = std::filesystem;

struct ArchiveFree {
  void operator()(archive* handle) const noexcept { archive_free(handle); }
};
using ArchiveHandle = std::unique_ptr<archive, ArchiveFree>;

std::string libarchiveText(archive* handle) {
  const char* text = archive_error_string(handle);
  return text != nullptr ? text : "unknown libarchive error";
}

// The entry's path as a clean relative path ("" for the top directory itself), or none when it
// is absolute or climbs out with "..".
std::optional<fs::path> containedPath(const std::string& name) {
  if (name.empty() || name.front() == '/') return std::nullopt;
  fs::path result;
  std::istringstream parts(name);
  std::string part;
  while (std::getline(parts, part, '/')) {
    if (part.empty() || part == ".") continue;
    if (part == "..") return std::nullopt;
    result /= part;
  }
  return result;
}

// Whether a symbolic link at `link` (relative to the top) pointing at `target` stays inside.
bool symlinkStaysInside(const fs::path& link, const std::string& target) {
  if (target.empty() || target.front() == '/') return false;
  const fs::path resolved = (link.parent_path() / target).lexically_normal();
  return resolved.empty() || *resolved.begin() != "..";
}

bool isInside(const fs::path& path, const fs::path& top) {
  const auto [topEnd, pathAt] = std::mismatch(top.begin(), top.end(), path.begin(), path.end());
  return topEnd == top.end();
}

class Extraction {
 public:
  Extraction(const fs::path& archivePath, const fs::path& destination, std::string label)
      : label_(std::move(label)) {
    // libarchive refuses to write through any link on the path, so the path must have none.
    std::error_code error;
    destination_ = fs::canonical(destination, error);
    if (error) {
      throw PlatformError(label_ + " cannot be extracted: " + destination.string() + ": " +
                          error.message());
    }
    reader_.reset(archive_read_new());
    writer_.reset(archive_write_disk_new());
    if (!reader_ || !writer_) throw PlatformError(label_ + " cannot be extracted: out of memory");
    archive_read_support_filter_gzip(reader_.get());
    archive_read_support_filter_xz(reader_.get());
    archive_read_support_format_tar(reader_.get());
    archive_read_support_format_zip(reader_.get());
    archive_write_disk_set_options(writer_.get(), ARCHIVE_EXTRACT_TIME |
                                                      ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                      ARCHIVE_EXTRACT_SECURE_NODOTDOT);
    if (archive_read_open_filename(reader_.get(), archivePath.c_str(), 1 << 16) != ARCHIVE_OK) {
      failWith(reader_.get());
    }
  }

  void run() {
    for (;;) {
      archive_entry* entry = nullptr;
      const int status = archive_read_next_header(reader_.get(), &entry);
      if (status == ARCHIVE_EOF) break;
      if (status < ARCHIVE_WARN) failWith(reader_.get());
      extractEntry(entry);
    }
    if (archive_write_close(writer_.get()) < ARCHIVE_WARN) failWith(writer_.get());
    checkLinksOnDisk();
  }

 private:
  [[noreturn]] void refuse(const std::string& why) const {
    throw PlatformError(label_ + " is refused: " + why);
  }
  [[noreturn]] void failWith(archive* handle) const {
    throw PlatformError(label_ + " cannot be extracted: " + libarchiveText(handle));
  }

  void extractEntry(archive_entry* entry) {
    const char* rawName = archive_entry_pathname(entry);
    const std::string name = rawName != nullptr ? rawName : "";
    const auto relative = containedPath(name);
    if (!relative) refuse("entry \"" + name + "\" leaves the extraction directory");

    const auto type = archive_entry_filetype(entry);
    if (const char* hardlink = archive_entry_hardlink(entry)) {
      const auto target = containedPath(hardlink);
      if (!target || target->empty()) {
        refuse("hard link \"" + name + "\" points outside the extraction directory");
      }
      archive_entry_set_hardlink(entry, (destination_ / *target).c_str());
    } else if (type == AE_IFLNK) {
      const char* rawTarget = archive_entry_symlink(entry);
      const std::string target = rawTarget != nullptr ? rawTarget : "";
      if (!symlinkStaysInside(*relative, target)) {
        refuse("link \"" + name + "\" -> \"" + target + "\" leaves the extraction directory");
      }
    } else if (type != AE_IFREG && type != AE_IFDIR) {
      refuse("entry \"" + name + "\" is a device, FIFO or socket");
    }
    if (relative->empty()) {  // the top directory itself
      archive_read_data_skip(reader_.get());
      return;
    }
    if (type == AE_IFDIR) {
      archive_entry_set_perm(entry, 0755);
    } else if (type == AE_IFREG) {
      archive_entry_set_perm(entry, (archive_entry_perm(entry) & 0111) != 0 ? 0755 : 0644);
    }
    archive_entry_set_pathname(entry, (destination_ / *relative).c_str());

    if (archive_write_header(writer_.get(), entry) < ARCHIVE_WARN) failWith(writer_.get());
    copyData();
    if (archive_write_finish_entry(writer_.get()) < ARCHIVE_WARN) failWith(writer_.get());
  }

  void copyData() {
    for (;;) {
      const void* block = nullptr;
      size_t size = 0;
      la_int64_t offset = 0;
      const int status = archive_read_data_block(reader_.get(), &block, &size, &offset);
      if (status == ARCHIVE_EOF) return;
      if (status < ARCHIVE_WARN) failWith(reader_.get());
      if (archive_write_data_block(writer_.get(), block, size, offset) < ARCHIVE_WARN) {
        failWith(writer_.get());
      }
    }
  }

  // A link can stay inside by its own text and still leave through another link ("k" -> ".",
  // "m" -> "k/.."); the kernel's resolution of what is on disk settles it.
  void checkLinksOnDisk() const {
    std::error_code error;
    const fs::path top = fs::canonical(destination_, error);
    if (error) refuse("cannot resolve " + destination_.string() + ": " + error.message());
    for (auto it = fs::recursive_directory_iterator(top, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
      if (!it->is_symlink(error)) continue;
      const fs::path resolved = fs::weakly_canonical(it->path(), error);
      if (error || !isInside(resolved, top)) {
        refuse("link \"" + it->path().lexically_relative(top).string() +
               "\" leaves the extraction directory");
      }
    }
    if (error) refuse("cannot check " + destination_.string() + ": " + error.message());
  }

  fs::path destination_;
  std::string label_;
  ArchiveHandle reader_;
  ArchiveHandle writer_;
};

}  // namespace

void extractArchive(const fs::path& archive, const fs::path& destination,
                    const std::string& label) {
  Extraction extraction(archive, destination, label);
  extraction.run();
}

}  // namespace ondevice::platform
