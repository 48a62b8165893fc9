#pragma once
// The audio file a host names with --file. The path is kept as written: relative paths resolve
// against the working directory when the file is opened, and errors show the host's own text.

#include <string>
#include <utility>

namespace ondevice {

class FileURL {
 public:
  static FileURL fileURLWithPath(std::string path) { return FileURL(std::move(path)); }
  const std::string& path() const { return path_; }

 private:
  explicit FileURL(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

}  // namespace ondevice
