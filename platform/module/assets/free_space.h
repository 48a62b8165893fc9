#pragma once
// Room on a file system, checked before writing rather than discovered by filling it.
//
//   requireFreeSpace(store, {archiveBytes, 1}, "the download of the assets for en_US");

#include <cstdint>
#include <filesystem>
#include <string>

namespace ondevice::platform {

struct SpaceNeeded {
  std::uint64_t bytes = 0;
  std::uint64_t files = 0;  // each may waste up to a block and takes an inode
};

// Throws PlatformError "Not enough free space in <directory> for <purpose>: <n> bytes needed,
// <m> available" (or the same for inodes, on file systems that count them), or when the file
// system cannot be asked.
void requireFreeSpace(const std::filesystem::path& directory, const SpaceNeeded& needed,
                      const std::string& purpose);

}  // namespace ondevice::platform
