#include "platform/module/assets/link_containment.h"

#include <deque>
#include <system_error>
#include <vector>

#include "platform/module/assets/archive_fault.h"

namespace ondevice::platform {
namespace {

namespace fs = std::filesystem;

constexpr int kMaximumLinkHops = 40;  // the kernel's own limit

void prependComponents(std::deque<std::string>& pending, const fs::path& path) {
  std::vector<std::string> parts;
  for (const auto& part : path) parts.push_back(part.string());
  pending.insert(pending.begin(), parts.begin(), parts.end());
}

// Resolves `relative` inside `top` the way the kernel would, except that no step may go above
// `top`. Components that do not exist are taken as plain names, which can only resolve less.
bool resolvesInside(const fs::path& top, const fs::path& relative) {
  std::deque<std::string> pending;
  prependComponents(pending, relative);
  std::vector<std::string> directories;  // where the resolution stands, below `top`
  int hops = 0;
  while (!pending.empty()) {
    const std::string part = std::move(pending.front());
    pending.pop_front();
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (directories.empty()) return false;
      directories.pop_back();
      continue;
    }
    fs::path candidate = top;
    for (const auto& directory : directories) candidate /= directory;
    candidate /= part;
    std::error_code error;
    const auto status = fs::symlink_status(candidate, error);
    if (error && status.type() != fs::file_type::not_found) return false;
    if (status.type() != fs::file_type::symlink) {
      directories.push_back(part);
      continue;
    }
    if (++hops > kMaximumLinkHops) return false;
    const fs::path target = fs::read_symlink(candidate, error);
    if (error || target.empty() || target.is_absolute()) return false;
    prependComponents(pending, target);
  }
  return true;
}

}  // namespace

void refuseLinksLeaving(const fs::path& top, const std::string& label, const std::string& topName) {
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(top, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_symlink(error)) continue;
    const fs::path relative = it->path().lexically_relative(top);
    if (!resolvesInside(top, relative)) {
      throw ArchiveFault(label + " is refused: link \"" + relative.string() + "\" leaves " +
                         topName);
    }
  }
  if (error) {
    throw PlatformError(label + " cannot be checked: " + top.string() + ": " + error.message());
  }
}

}  // namespace ondevice::platform
