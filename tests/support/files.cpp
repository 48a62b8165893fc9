#include "tests/support/files.h"

#include <stdlib.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace ondevice::testing {

namespace fs = std::filesystem;

ScratchDirectory::ScratchDirectory() {
  std::string pattern = (fs::temp_directory_path() / "ondevice-stt-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
  }
  path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void writeText(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

std::string readText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string randomBytes(size_t count, uint32_t seed) {
  std::mt19937 generator(seed);
  std::string bytes(count, '\0');
  for (auto& b : bytes) b = static_cast<char>(generator() & 0xFF);
  return bytes;
}

TemporaryMount::TemporaryMount(const fs::path& at, const std::string& options,
                               unsigned long flags)
    : at_(at) {
  fs::create_directories(at);
  mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", flags, options.c_str()) == 0;
}

TemporaryMount::~TemporaryMount() {
  if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
}

}  // namespace ondevice::testing
