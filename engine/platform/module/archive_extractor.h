#pragma once
// Extraction of model archives (.tar.gz, .tar.xz, .zip) with libarchive, refusing any entry that
// could write or point outside the extraction directory.
//
//   extractArchive("/store/en_US.partial", "/store/en_US.staging-Ab12Cd", "The archive for en_US");

#include <filesystem>
#include <string>

namespace ondevice::platform {

// Extracts `archive` into `destination`, an existing directory. Refuses (throwing PlatformError
// "<label> is refused: <why>") absolute paths, `..` components, hard links outside the
// directory, symbolic links whose target leaves it (also through other links), and device files,
// FIFOs and sockets. Nothing is ever written outside `destination`; what was extracted before a
// refusal stays there for the caller to remove. Modes are normalised (no set-id bits).
// Other failures throw PlatformError "<label> cannot be extracted: <libarchive's text>".
void extractArchive(const std::filesystem::path& archive, const std::filesystem::path& destination,
                    const std::string& label);

}  // namespace ondevice::platform
