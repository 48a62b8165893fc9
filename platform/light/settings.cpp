#include "platform/light/settings.h"

#include <pwd.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/api/platform_error.h"
#include "platform/contract/speech_module.h"

namespace ondevice::platform {
namespace {

namespace fs = std::filesystem;

const char* nonEmptyEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return (value != nullptr && *value != '\0') ? value : nullptr;
}

// The home directory of the account the process runs as, from the user database.
std::optional<fs::path> accountHome() {
  passwd account{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(::getuid(), &account, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/') {
    return std::nullopt;
  }
  return fs::path(found->pw_dir);
}

// An absolute path from the environment; a relative one is invalid and ignored, as the base
// directory rules say of XDG_DATA_HOME: it would put the store wherever the tool was started.
const char* absoluteEnvironment(const char* name) {
  const char* value = nonEmptyEnvironment(name);
  return (value != nullptr && *value == '/') ? value : nullptr;
}

struct StoreLocation {
  fs::path root;
  std::optional<fs::path> home;  // the home directory it lies in
};

StoreLocation storeFromEnvironment() {
  if (const char* assets = nonEmptyEnvironment("ONDEVICE_STT_ASSETS")) {
    return {fs::absolute(assets), std::nullopt};
  }
  if (const char* data = absoluteEnvironment("XDG_DATA_HOME")) {
    return {fs::path(data) / "ondevice-stt" / "assets", std::nullopt};
  }
  // A host may start the tool with no environment at all; the account still has a home.
  std::optional<fs::path> home;
  if (const char* fromEnvironment = absoluteEnvironment("HOME")) {
    home = fs::path(fromEnvironment);
  } else {
    home = accountHome();
  }
  if (!home) {
    throw PlatformError(
        "Cannot locate the asset store: none of ONDEVICE_STT_ASSETS, XDG_DATA_HOME and HOME is "
        "set");
  }
  return {*home / ".local" / "share" / "ondevice-stt" / "assets", home};
}

std::optional<unsigned> decoderThreadsFromEnvironment() {
  const char* value = std::getenv("ONDEVICE_STT_THREADS");
  if (value == nullptr) return std::nullopt;
  const std::string_view text(value);
  unsigned threads = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), threads);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (threads < 1 || threads > kMostDecoderThreads) return std::nullopt;
  return threads;
}

// The warm service's directory: $XDG_RUNTIME_DIR/ondevice-stt, for an absolute XDG_RUNTIME_DIR;
// none without one (there is no service then).
std::optional<fs::path> serviceDirectoryFromEnvironment() {
  const char* runtime = nonEmptyEnvironment("XDG_RUNTIME_DIR");
  if (runtime == nullptr || *runtime != '/') return std::nullopt;
  return fs::path(runtime) / "ondevice-stt";
}

}  // namespace

PlatformSettings PlatformSettings::fromEnvironment() {
  PlatformSettings settings;
  if (const char* catalog = nonEmptyEnvironment("ONDEVICE_STT_CATALOG")) {
    settings.catalogFile = catalog;
  }
  try {
    StoreLocation store = storeFromEnvironment();
    settings.storeRoot_ = std::move(store.root);
    settings.storeHome_ = std::move(store.home);
  } catch (...) {
    settings.storeRootFailure_ = std::current_exception();
  }
  settings.decoderThreads = decoderThreadsFromEnvironment();
  settings.serviceDirectory = serviceDirectoryFromEnvironment();
  const char* service = std::getenv("ONDEVICE_STT_SERVICE");
  settings.useService = !(service != nullptr && std::string_view(service) == "off");
  return settings;
}

const fs::path& PlatformSettings::storeRoot() const {
  if (storeRootFailure_) std::rethrow_exception(storeRootFailure_);
  return storeRoot_;
}

void PlatformSettings::requireStoreHome() const {
  std::error_code error;
  if (storeHome_ && !fs::is_directory(*storeHome_, error)) {
    throw PlatformError("Cannot create the asset store " + storeRoot().string() +
                        ": the home directory " + storeHome_->string() + " does not exist");
  }
}

}  // namespace ondevice::platform
