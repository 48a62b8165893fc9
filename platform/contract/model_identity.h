#pragma once
// Which files, exactly, a model is: for every file the recogniser reads (the dictionary, the
// language model and the acoustic model's files), its device, inode, size and modification
// time. A model replaced by a new install (renamed into place, so new inodes), updated in place
// by a package, or rewritten with the same size and date (a new inode or change time) has
// another identity; a model that is not there has none.
//
//   const auto identity = modelIdentity(files);   // "en-us/mdef 2049:1234:2959176:...;..."
//   if (identity != loaded.identity) reload();

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/contract/model_parts.h"

namespace ondevice::platform {

inline std::optional<std::string> modelIdentity(const ModelFiles& files) {
  std::string identity;
  const auto add = [&](const std::filesystem::path& path, bool required) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return !required;
    identity += path.string() + ' ' + std::to_string(info.st_dev) + ':' +
                std::to_string(info.st_ino) + ':' + std::to_string(info.st_size) + ':' +
                std::to_string(info.st_mtim.tv_sec) + '.' + std::to_string(info.st_mtim.tv_nsec) +
                ':' + std::to_string(info.st_ctim.tv_sec) + '.' +
                std::to_string(info.st_ctim.tv_nsec) + ';';
    return true;
  };
  if (!add(files.dictionary, true) || !add(files.languageModel, true)) return std::nullopt;
  for (const char* name : kAcousticModelFiles) {
    if (!add(std::filesystem::path(files.acousticModel) / name, false)) return std::nullopt;
  }
  return identity;
}

}  // namespace ondevice::platform
