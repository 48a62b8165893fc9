#include "base/contained_path.h"

namespace ondevice {

std::optional<std::vector<std::string_view>> containedComponents(std::string_view path) {
  if (path.empty() || path.front() == '/') return std::nullopt;
  std::vector<std::string_view> components;
  while (!path.empty()) {
    const size_t slash = path.find('/');
    const std::string_view part = path.substr(0, slash);
    path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
    if (part == "..") return std::nullopt;
    if (!part.empty() && part != ".") components.push_back(part);
  }
  return components;
}

}  // namespace ondevice
