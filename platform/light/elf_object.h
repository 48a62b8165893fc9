#pragma once
// What the light platform reads of a shared object without loading it: whether it is one this
// program can load, and which libraries it needs and where it says to look for them. Bounded
// reads through a checked descriptor (base/regular_file.h), never a mapping, so that a damaged
// file is refused rather than faulted on.
//
//   RegularFile file = RegularFile::open(path);
//   if (holdsLoadableObject(file)) {
//     if (const auto needs = readLibraryNeeds(file)) ...   // needs->needed: "libcurl.so.4", ...
//   }

#include <optional>
#include <string>
#include <vector>

#include "base/regular_file.h"

namespace ondevice::platform {

// Whether `file` is a shared object that this program can load: an ELF file of the program's
// own class, byte order and machine, holding every table and loadable segment its headers list.
// A truncated copy fails here (dlopen would map the missing part and fault on it), as does
// anything that is not such an object. Costs two small reads.
bool holdsLoadableObject(const RegularFile& file);

// The dynamic section's word on the libraries the object needs.
struct LibraryNeeds {
  std::vector<std::string> needed;                   // DT_NEEDED, in order
  std::optional<std::string> rpath;                  // DT_RPATH
  std::optional<std::string> runpath;                // DT_RUNPATH
  std::optional<std::string> soname = std::nullopt;  // DT_SONAME: the object's own name
  bool noDefaultLibraries = false;  // DF_1_NODEFLIB: neither the cache nor default directories
};

// Reads the needs of an object that holdsLoadableObject accepted; none when its dynamic section
// or string table is missing, damaged or outside the file.
std::optional<LibraryNeeds> readLibraryNeeds(const RegularFile& file);

}  // namespace ondevice::platform
