#pragma once
// Getting files onto the disk for good before they are announced, the one way this program does
// it: what a crash or power loss leaves is either the old state or the whole new file, never
// part of it (an install is only marked complete once everything it wrote has been synced).
//
//   syncTree(staging);                           // every file and directory written so far
//   writeFileDurably(marker, "...");             // then the file that announces them

#include <filesystem>
#include <string>

namespace ondevice {

// fsyncs every regular file and directory under `top`, and `top` itself; throws SystemFailure.
void syncTree(const std::filesystem::path& top);
// fsyncs one directory, making renames and new entries in it durable; throws SystemFailure.
void syncDirectory(const std::filesystem::path& directory);
// Writes `content` to a new temporary file beside `path` (whatever bore its name is unlinked
// first, never written through), syncs it, renames it onto `path` and syncs the directory, so
// that `path` either does not exist or holds all of `content`; throws SystemFailure.
void writeFileDurably(const std::filesystem::path& path, const std::string& content);

}  // namespace ondevice
