#include "platform/light/speech_module_loader.h"

#include <dlfcn.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "base/regular_file.h"
#include "base/system_error.h"
#include "platform/api/platform_error.h"
#include "platform/light/elf_object.h"
#include "platform/light/library_search.h"

namespace ondevice::platform {
namespace {

constexpr const char* kModuleFileName = "ondevice-stt-speech.so";

// The module's folder is found from the running binary's own folder (/proc/self/exe, with every
// link resolved), by a path relative to it that the build fixes: a tree works wherever it is
// installed or moved, and neither the working directory nor LD_LIBRARY_PATH can put another
// module in its place.
std::filesystem::path modulePath() {
  std::error_code error;
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) throw PlatformError("Cannot locate the running program: " + error.message());
  // The binary's folder has no link left in it, so a ".." may be taken away by the letter.
  return (executable.parent_path() / ONDEVICE_STT_MODULE_DIR_FROM_BINARY / kModuleFileName)
      .lexically_normal();
}

// Why the module at `path` cannot be loaded; none when it can, as far as can be told without
// loading it: it is a shared object of this machine, whole, and the loader would find each
// library it names as needed. Only those direct dependencies are looked for: they are what a
// change of the system beside the module (a library upgraded to a new version, or removed)
// takes away, while the dependencies of those libraries come with them, kept whole by the
// package manager; following them all (some 140 objects) would cost more than starting the
// program.
std::optional<std::string> moduleProblem(const std::filesystem::path& path) {
  const RegularFile file = RegularFile::open(path.c_str());
  // A module that is there but cannot be opened (the open-file limit reached, no permission)
  // is neither missing nor damaged.
  if (file.refusal() == RegularFile::Refusal::cannotOpen && file.error() != ENOENT &&
      file.error() != ENOTDIR) {
    return describeSystemError(path.string() + " cannot be opened", file.error());
  }
  if (file.refusal() != RegularFile::Refusal::none || !holdsLoadableObject(file)) {
    return path.string() + " is missing, damaged or not built for this machine";
  }
  const auto needs = readLibraryNeeds(file);
  if (!needs) return path.string() + " is damaged: its list of needed libraries cannot be read";
  // Checked before anything of it is loaded or called: the types the two share are laid out
  // as this build compiled them.
  if (needs->soname != ONDEVICE_STT_MODULE_SONAME) {
    return path.string() + " was built for another version of ondevice-stt";
  }
  try {
    if (const auto missing = missingLibrary(*needs, path.parent_path())) {
      return path.string() + " needs " + *missing + ", which cannot be found";
    }
  } catch (const LibrarySearchError& error) {
    return error.what();
  }
  return std::nullopt;
}

SpeechModule& openModule() {
  const std::filesystem::path path = modulePath();
  if (const auto problem = moduleProblem(path)) {
    throw PlatformError("The speech module could not be loaded: " + *problem);
  }
  // Kept open for the life of the process: its objects may outlive any one operation.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    throw PlatformError("The speech module could not be loaded: " +
                        std::string(reason ? reason : path.string()));
  }
  using Entry = SpeechModule* (*)();
  const auto entry = reinterpret_cast<Entry>(dlsym(handle, "ondevice_stt_speech_module"));
  if (entry == nullptr) {
    throw PlatformError("The speech module " + path.string() + " has no entry point.");
  }
  return *entry();
}

}  // namespace

SpeechModule& loadSpeechModule() {
  static SpeechModule& module = openModule();  // a failed load is tried again on the next call
  return module;
}

const char* speechModuleBuild() { return ONDEVICE_STT_MODULE_SONAME; }

bool speechModuleLooksLoadable() {
  // A host asks this often, so it costs a few small reads, never a dlopen.
  try {
    return !moduleProblem(modulePath());
  } catch (const PlatformError&) {
    return false;
  }
}

}  // namespace ondevice::platform
