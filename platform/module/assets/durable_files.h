#pragma once
// Getting files onto the disk for good before they are announced: an install is only marked
// complete once everything it wrote has been synced.

#include <filesystem>
#include <string>

namespace ondevice::platform {

// fsyncs every regular file and directory under `top`, and `top` itself; throws PlatformError.
void syncTree(const std::filesystem::path& top);
// fsyncs one directory, making renames and new entries in it durable; throws PlatformError.
void syncDirectory(const std::filesystem::path& directory);
// Writes `content` to a new temporary file beside `path` (whatever bore its name is unlinked
// first, never written through), syncs it, renames it onto `path` and syncs the directory, so
// that `path` either does not exist or holds all of `content`.
void writeFileDurably(const std::filesystem::path& path, const std::string& content);

}  // namespace ondevice::platform
