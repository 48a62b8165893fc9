// Finds the speech module beside the running binary and opens it once per process.

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "engine/platform/platform_error.h"
#include "engine/platform/speech_module.h"

namespace ondevice::platform {
namespace {

constexpr const char* kModuleFileName = "ondevice-stt-speech.so";

std::filesystem::path modulePath() {
  std::error_code error;
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) throw PlatformError("Cannot locate the running program: " + error.message());
  return executable.parent_path() / kModuleFileName;
}

SpeechModule& openModule() {
  const std::filesystem::path path = modulePath();
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

bool speechModulePresent() {
  try {
    return ::access(modulePath().c_str(), R_OK) == 0;
  } catch (const PlatformError&) {
    return false;
  }
}

}  // namespace ondevice::platform
