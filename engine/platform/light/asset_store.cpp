#include "engine/platform/light/asset_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "base/unique_fd.h"
#include "engine/platform/asset_store_layout.h"
#include "engine/platform/light/speech_module_loader.h"
#include "engine/platform/platform_error.h"

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

// Whether another process holds the locale's install lock right now. Asks with a shared,
// non-blocking lock so that two status checks never mistake each other for an install, and
// opens the lock file only if it already exists, so that a status check creates nothing.
bool installLockIsHeld(const fs::path& lockFile) {
  const UniqueFd fd(::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) return false;
  int result = 0;
  do {
    result = ::flock(fd.get(), LOCK_SH | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  return result != 0 && errno == EWOULDBLOCK;  // closing drops the shared lock, if granted
}

class StoreInstallationRequest final : public AssetInstallationRequest {
 public:
  explicit StoreInstallationRequest(AssetInstallJob job) : job_(std::move(job)) {}

  void downloadAndInstall() override { loadSpeechModule().installAssets(job_); }

 private:
  AssetInstallJob job_;
};

}  // namespace

AssetStore AssetStore::fromEnvironment() {
  if (const char* assets = nonEmptyEnvironment("ONDEVICE_STT_ASSETS")) {
    return AssetStore(fs::absolute(assets));
  }
  // A relative XDG_DATA_HOME is invalid and ignored, as the base directory rules say.
  if (const char* data = nonEmptyEnvironment("XDG_DATA_HOME"); data != nullptr && *data == '/') {
    return AssetStore(fs::path(data) / "ondevice-stt" / "assets");
  }
  if (const char* home = nonEmptyEnvironment("HOME")) {
    return AssetStore(fs::absolute(home) / ".local" / "share" / "ondevice-stt" / "assets");
  }
  // A host may start the tool with no environment at all; the account still has a home.
  if (const auto home = accountHome()) {
    return AssetStore(*home / ".local" / "share" / "ondevice-stt" / "assets");
  }
  throw PlatformError(
      "Cannot locate the asset store: none of ONDEVICE_STT_ASSETS, XDG_DATA_HOME and HOME is set");
}

AssetStatus AssetStore::status(const CatalogEntry& entry) const {
  if (installedModel(entry)) return AssetStatus::installed;
  if (!entry.archive) return AssetStatus::unsupported;
  if (installLockIsHeld(AssetStoreLayout{root_, entry.identifier}.lock())) {
    return AssetStatus::downloading;
  }
  return AssetStatus::supported;
}

std::optional<ModelFiles> AssetStore::installedModel(const CatalogEntry& entry) const {
  const AssetStoreLayout layout{root_, entry.identifier};
  // A model installed into the store was asked for explicitly, so it wins over the system's.
  if (isInstalledInStore(layout, entry.model)) return modelFilesIn(layout.installed(), entry.model);
  if (entry.system && holdsModelParts(*entry.system, entry.model)) {
    return modelFilesIn(*entry.system, entry.model);
  }
  return std::nullopt;
}

std::unique_ptr<AssetInstallationRequest> AssetStore::installationRequest(
    const CatalogEntry& entry) const {
  if (status(entry) == AssetStatus::installed) return nullptr;
  if (!entry.archive) {
    throw PlatformError("Assets not supported for locale: " + entry.identifier);
  }
  AssetInstallJob job;
  job.localeIdentifier = entry.identifier;
  job.archiveURL = *entry.archive;
  job.sha256 = entry.sha256;
  job.size = entry.size;
  job.installedSize = entry.installedSize;
  job.storeDirectory = root_.string();
  job.model = entry.model;
  return std::make_unique<StoreInstallationRequest>(std::move(job));
}

}  // namespace ondevice::platform
