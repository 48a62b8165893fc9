#include "platform/module/assets/archive_extractor.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <system_error>

#include "base/contained_path.h"
#include "base/system_error.h"
#include "platform/module/assets/archive_fault.h"
#include "platform/module/assets/link_containment.h"

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

[[noreturn]] void failToRead(archive* reader, const std::string& label) {
  throw ArchiveFault(label + " cannot be extracted: " + libarchiveText(reader));
}

std::string exceeds(const std::string& label, const SizeLimit& limit) {
  return label + " is refused: its contents exceed " + std::to_string(limit.bytes) + " bytes (" +
         limit.source + ")";
}

ArchiveHandle openArchive(const fs::path& path, const std::string& label) {
  ArchiveHandle reader(archive_read_new());
  if (!reader) throw PlatformError(label + " cannot be extracted: out of memory");
  archive_read_support_filter_gzip(reader.get());
  archive_read_support_filter_xz(reader.get());
  archive_read_support_format_tar(reader.get());
  archive_read_support_format_zip(reader.get());
  if (archive_read_open_filename(reader.get(), path.c_str(), 1 << 16) != ARCHIVE_OK) {
    failToRead(reader.get(), label);
  }
  return reader;
}

// The entry's path as a clean relative path ("" for the top directory itself), or none when it
// is absolute or climbs out with "..".
std::optional<fs::path> containedPath(const std::string& name) {
  const auto components = containedComponents(name);
  if (!components) return std::nullopt;
  fs::path result;
  for (const std::string_view part : *components) result /= part;
  return result;
}

// Whether a symbolic link at `link` (relative to the top) pointing at `target` stays inside by
// its own text; links through other links are settled on disk afterwards.
bool symlinkStaysInside(const fs::path& link, const std::string& target) {
  if (target.empty() || target.front() == '/') return false;
  const fs::path resolved = (link.parent_path() / target).lexically_normal();
  return resolved.empty() || *resolved.begin() != "..";
}

class Extraction {
 public:
  Extraction(const fs::path& archivePath, const fs::path& destination, std::string label,
             SizeLimit limit)
      : label_(std::move(label)), limit_(std::move(limit)) {
    // libarchive refuses to write through any link on the path, so the path must have none.
    std::error_code error;
    destination_ = fs::canonical(destination, error);
    if (error) {
      throw PlatformError(label_ + " cannot be extracted: " + destination.string() + ": " +
                          error.message());
    }
    reader_ = openArchive(archivePath, label_);
    writer_.reset(archive_write_disk_new());
    if (!writer_) throw PlatformError(label_ + " cannot be extracted: out of memory");
    archive_write_disk_set_options(writer_.get(), ARCHIVE_EXTRACT_TIME |
                                                      ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                      ARCHIVE_EXTRACT_SECURE_NODOTDOT);
  }

  void run() {
    for (;;) {
      archive_entry* entry = nullptr;
      const int status = archive_read_next_header(reader_.get(), &entry);
      if (status == ARCHIVE_EOF) break;
      if (status < ARCHIVE_WARN) failToRead(reader_.get(), label_);
      extractEntry(entry);
    }
    if (archive_write_close(writer_.get()) != ARCHIVE_OK) failToWrite();
    refuseLinksLeaving(destination_, label_, "the extraction directory");
  }

 private:
  [[noreturn]] void refuse(const std::string& why) const {
    throw ArchiveFault(label_ + " is refused: " + why);
  }
  // libarchive reports a failed write(2) as a mere warning; here every write counts, and the
  // system's reason is named.
  [[noreturn]] void failToWrite() const {
    std::string why = libarchiveText(writer_.get());
    if (const int error = archive_errno(writer_.get()); error > 0) {
      why += " (" + errnoText(error) + ")";
    }
    throw PlatformError(label_ + " cannot be extracted: " + why);
  }

  void extractEntry(archive_entry* entry) {
    const char* rawName = archive_entry_pathname(entry);
    const std::string name = rawName != nullptr ? rawName : "";
    const auto relative = containedPath(name);
    if (!relative) refuse("entry \"" + name + "\" leaves the extraction directory");

    const auto type = archive_entry_filetype(entry);
    const bool hardlink = archive_entry_hardlink(entry) != nullptr;
    if (hardlink) {
      const auto target = containedPath(archive_entry_hardlink(entry));
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
    const fs::path path = destination_ / *relative;
    archive_entry_set_pathname(entry, path.c_str());

    if (archive_write_header(writer_.get(), entry) != ARCHIVE_OK) failToWrite();
    const std::uint64_t delivered = copyData();
    if (archive_write_finish_entry(writer_.get()) != ARCHIVE_OK) failToWrite();
    if (type == AE_IFREG && !hardlink) checkFileSize(entry, name, path, delivered);
  }

  // Copies the entry's data; answers how many bytes the archive delivered.
  std::uint64_t copyData() {
    std::uint64_t delivered = 0;
    for (;;) {
      const void* block = nullptr;
      size_t size = 0;
      la_int64_t offset = 0;
      const int status = archive_read_data_block(reader_.get(), &block, &size, &offset);
      if (status == ARCHIVE_EOF) return delivered;
      if (status != ARCHIVE_OK) failToRead(reader_.get(), label_);  // a bad checksum warns
      // The headers were measured before, but a format may leave sizes open or state them
      // wrongly; the limit holds for what is actually written.
      if (size > limit_.bytes - written_) throw ArchiveFault(exceeds(label_, limit_));
      written_ += size;
      delivered += size;
      if (archive_write_data_block(writer_.get(), block, size, offset) != ARCHIVE_OK) {
        failToWrite();
      }
    }
  }

  // A file is complete when the archive delivered all its entry declares and the file on disk
  // is that long.
  void checkFileSize(archive_entry* entry, const std::string& name, const fs::path& path,
                     std::uint64_t delivered) const {
    std::uint64_t expected = delivered;
    if (archive_entry_size_is_set(entry)) {
      expected = static_cast<std::uint64_t>(archive_entry_size(entry));
      if (archive_entry_sparse_count(entry) == 0 && delivered != expected) {
        throw ArchiveFault(label_ + " cannot be extracted: entry \"" + name + "\" holds " +
                           std::to_string(delivered) + " bytes, its header says " +
                           std::to_string(expected));
      }
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
      throw PlatformError(label_ +
                          " cannot be extracted: " + describeSystemError(path.string(), errno));
    }
    if (!S_ISREG(info.st_mode) || static_cast<std::uint64_t>(info.st_size) != expected) {
      throw PlatformError(label_ + " cannot be extracted: " + path.string() + " holds " +
                          std::to_string(info.st_size) + " bytes, not the " +
                          std::to_string(expected) + " of its entry");
    }
  }

  fs::path destination_;
  std::string label_;
  SizeLimit limit_;
  std::uint64_t written_ = 0;
  ArchiveHandle reader_;
  ArchiveHandle writer_;
};

}  // namespace

ArchiveContents measureArchive(const fs::path& archivePath, const SizeLimit& limit,
                               const std::string& label) {
  const ArchiveHandle reader = openArchive(archivePath, label);
  ArchiveContents contents;
  for (;;) {
    archive_entry* entry = nullptr;
    const int status = archive_read_next_header(reader.get(), &entry);
    if (status == ARCHIVE_EOF) return contents;
    if (status < ARCHIVE_WARN) failToRead(reader.get(), label);
    ++contents.entries;
    const la_int64_t declared = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : 0;
    const auto bytes = static_cast<std::uint64_t>(declared > 0 ? declared : 0);
    if (bytes > limit.bytes - contents.bytes) throw ArchiveFault(exceeds(label, limit));
    contents.bytes += bytes;
  }
}

void extractArchive(const fs::path& archive, const fs::path& destination, const std::string& label,
                    const SizeLimit& limit) {
  Extraction extraction(archive, destination, label, limit);
  extraction.run();
}

}  // namespace ondevice::platform
