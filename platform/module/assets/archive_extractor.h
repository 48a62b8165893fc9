#pragma once
// Extraction of model archives (.tar.gz, .tar.xz, .zip) with libarchive, refusing any entry that
// could write or point outside the extraction directory, and any archive whose contents exceed
// a size limit.
//
//   const SizeLimit limit{20 * archiveBytes, "20 times the archive's size"};
//   ArchiveContents contents = measureArchive(archive, limit, label);   // headers only
//   ... check the free space for contents ...
//   extractArchive(archive, staging, label, limit);

#include <cstdint>
#include <filesystem>
#include <string>

namespace ondevice::platform {

// The most the files of an archive may hold together, and where that number comes from (shown
// in the refusal).
struct SizeLimit {
  std::uint64_t bytes = 0;
  std::string source;  // "the catalog's installedSize"
};

// What an archive's headers declare.
struct ArchiveContents {
  std::uint64_t bytes = 0;    // the sizes of its entries, summed
  std::uint64_t entries = 0;  // files, directories and links
};

// Reads the headers of `archive` (decompressing what lies between them, writing nothing) and
// sums the sizes they declare. Throws ArchiveFault "<label> is refused: its contents exceed
// <bytes> bytes (<source>)" as soon as the sum passes the limit, and "<label> cannot be
// extracted: <libarchive's text>" when it is no readable archive.
ArchiveContents measureArchive(const std::filesystem::path& archive, const SizeLimit& limit,
                               const std::string& label);

// Extracts `archive` into `destination`, an existing directory. Refuses (throwing ArchiveFault
// "<label> is refused: <why>") absolute paths, `..` components, hard links outside the
// directory, symbolic links whose target leaves it (also through other links), device files,
// FIFOs and sockets, and more data than the limit, counted as it is written. Nothing is ever
// written outside `destination`; what was extracted before a failure stays there for the
// caller to remove. Modes are normalised (no set-id bits).
// Every write must succeed in full and every file must end up exactly as long as its entry
// says; otherwise PlatformError "<label> cannot be extracted: <why>" (ArchiveFault when the
// archive itself is unreadable or inconsistent).
void extractArchive(const std::filesystem::path& archive, const std::filesystem::path& destination,
                    const std::string& label, const SizeLimit& limit);

}  // namespace ondevice::platform
