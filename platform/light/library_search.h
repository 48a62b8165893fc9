#pragma once
// Whether the dynamic loader would find the libraries a shared object needs, answered without
// loading anything: the speech module's check (speech_module_loader.h) must stay as cheap as
// starting a small program.
//
// The loader's order for a library an object needs (ld.so(8)): a name with a slash is a path;
// a library already loaded under that name is used; else the object's DT_RPATH (only when it
// has no DT_RUNPATH), LD_LIBRARY_PATH (not for a set-user-ID program), the object's DT_RUNPATH,
// /etc/ld.so.cache, then the system's default directories (these two not for an object linked
// with -z nodeflib). $ORIGIN in a path is the object's directory. A candidate counts when it is
// a shared object this program can load (elf_object.h); the loader, too, passes over one of
// another machine.
//
// Left out, as the loader's finer points that a missing library never hinges on: the DT_RPATH
// of the objects that loaded this one, glibc-hwcaps and platform subdirectories (they hold
// variants of libraries that also exist in the directory itself), and the tokens $LIB and
// $PLATFORM (a directory naming them is not searched).
//
//   LibrarySearch search;
//   search.missingLibrary(needs, "/usr/lib/ondevice-stt")   // "libcurl.so.4", or none

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/light/elf_object.h"

namespace ondevice::platform {

// The system's default directories, in the loader's order.
std::vector<std::string> defaultLibraryDirectories();

// Every library path that /etc/ld.so.cache (in the format of `cache`) lists for `name`; empty
// when it lists none or the cache is in no format known here.
std::vector<std::string> cachedLibraryPaths(const std::string& cache, const std::string& name);

// Raised when a file the search looks at cannot be opened for want of descriptors or memory
// (the process's open-file limit reached): whether the library is there cannot be told.
// what(): "<path> cannot be opened: Too many open files".
class LibrarySearchError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The first library of `needs` that the loader would not find for an object in
// `objectDirectory`; none when it would find them all. Throws LibrarySearchError.
std::optional<std::string> missingLibrary(const LibraryNeeds& needs,
                                          const std::filesystem::path& objectDirectory);

}  // namespace ondevice::platform
