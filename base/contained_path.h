#pragma once
// Paths written by someone else (a catalog, an archive) that are to be taken inside a directory:
// relative, with no ".." component that could climb out of it.
//
//   containedComponents("en-us/./mdef")   // {"en-us", "mdef"}
//   containedComponents("../etc/passwd")  // none
//   containedComponents("/etc/passwd")    // none

#include <optional>
#include <string_view>
#include <vector>

namespace ondevice {

// The components of a '/'-separated path, without empty and "." ones; none when the path is
// empty, absolute, or has a ".." component. The views point into `path`.
std::optional<std::vector<std::string_view>> containedComponents(std::string_view path);

}  // namespace ondevice
