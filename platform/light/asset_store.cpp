#include "platform/light/asset_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "base/unique_fd.h"
#include "platform/api/platform_error.h"
#include "platform/contract/asset_store_layout.h"
#include "platform/light/speech_module_loader.h"

namespace ondevice::platform {
namespace {

namespace fs = std::filesystem;

// Whether another process holds the locale's install lock right now. Asks with a shared,
// non-blocking lock so that two status checks never mistake each other for an install, and
// opens the lock file only if it already exists, so that a status check creates nothing. The
// open never waits (a FIFO in its place has no writer) and the type is checked through the
// descriptor: what is no regular file is no lock (the installer refuses it, naming it).
bool installLockIsHeld(const fs::path& lockFile) {
  const UniqueFd fd(
      ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
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
