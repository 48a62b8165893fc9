#include "base/memory_limits.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>

#include "base/regular_file.h"

namespace ondevice {
namespace {

namespace fs = std::filesystem;

// A limit file's number; none for "max", an unreadable file or anything else.
std::optional<std::uint64_t> readLimit(const fs::path& file) {
  const RegularFile limit = RegularFile::open(file.c_str());
  std::string text;
  if (limit.refusal() != RegularFile::Refusal::none || limit.readAll(text, 64) != 0) {
    return std::nullopt;
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The path of this process's cgroup in the hierarchy that `controller` names ("" for the
// unified one) in /proc/self/cgroup: "2:memory:/user.slice" or "0::/user.slice".
std::optional<std::string> cgroupPath(std::string_view controller) {
  const RegularFile file = RegularFile::open("/proc/self/cgroup");
  std::string text;
  if (file.refusal() != RegularFile::Refusal::none || file.readAll(text, 64 * 1024) != 0) {
    return std::nullopt;
  }
  std::string_view rest(text);
  while (!rest.empty()) {
    const auto end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    const auto first = line.find(':');
    const auto second = line.find(':', first == std::string_view::npos ? 0 : first + 1);
    if (first == std::string_view::npos || second == std::string_view::npos) continue;
    const std::string_view controllers = line.substr(first + 1, second - first - 1);
    bool named = controller.empty() ? controllers.empty() : false;
    for (size_t at = 0; !named && at <= controllers.size();) {
      const auto comma = std::min(controllers.find(',', at), controllers.size());
      named = controllers.substr(at, comma - at) == controller;
      at = comma + 1;
    }
    if (named) return std::string(line.substr(second + 1));
  }
  return std::nullopt;
}

// The least of `files` in the cgroup at `path` under `mount` and in each of its ancestors (a
// limit set higher up bounds every group below it). Where the path is not found under the mount
// (a cgroup namespace shows its own group as the root), from the mount down only.
std::optional<std::uint64_t> leastLimitUp(const fs::path& mount, const std::string& path,
                                          std::initializer_list<const char*> files) {
  std::error_code error;
  fs::path group = (mount / fs::path(path).relative_path()).lexically_normal();
  if (!fs::is_directory(group, error)) group = mount;
  std::optional<std::uint64_t> least;
  for (;;) {
    for (const char* name : files) {
      if (const auto limit = readLimit(group / name))
        least = std::min(least.value_or(*limit), *limit);
    }
    if (group == mount || !group.has_relative_path() || group == group.parent_path()) break;
    group = group.parent_path();
  }
  return least;
}

std::uint64_t physicalMemory() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

}  // namespace

std::uint64_t residentMemoryLimit(const fs::path& cgroupRoot) {
  std::uint64_t least = physicalMemory();
  const auto bound = [&](std::optional<std::uint64_t> limit) {
    if (limit && *limit > 0) least = least == 0 ? *limit : std::min(least, *limit);
  };
  std::error_code error;
  // Unified (v2) at the root, or beside the v1 hierarchies in a hybrid layout.
  for (const fs::path& unified : {cgroupRoot, cgroupRoot / "unified"}) {
    if (fs::exists(unified / "cgroup.controllers", error)) {
      if (const auto path = cgroupPath("")) {
        bound(leastLimitUp(unified, *path, {"memory.max", "memory.high"}));
      }
      break;
    }
  }
  if (const auto path = cgroupPath("memory")) {
    bound(leastLimitUp(cgroupRoot / "memory", *path, {"memory.limit_in_bytes"}));
  }
  return least;
}

bool addressSpaceHolds(std::uint64_t bytes) {
  if (bytes == 0) return true;
  void* region = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (region == MAP_FAILED) return false;
  ::munmap(region, bytes);
  return true;
}

}  // namespace ondevice
