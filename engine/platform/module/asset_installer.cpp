#include "engine/platform/module/asset_installer.h"

#include <cerrno>
#include <optional>
#include <system_error>

#include "base/system_error.h"
#include "engine/platform/asset_store_layout.h"
#include "engine/platform/module/archive_extractor.h"
#include "engine/platform/module/durable_files.h"
#include "engine/platform/module/file_lock.h"
#include "engine/platform/module/http_download.h"
#include "engine/platform/module/sha256.h"
#include "engine/platform/module/staging_directory.h"
#include "engine/platform/platform_error.h"

namespace ondevice::platform {
namespace {

namespace fs = std::filesystem;

// The model inside an extracted archive: its parts lie at the top, or in the archive's one
// top-level directory.
std::optional<fs::path> locateModel(const fs::path& extracted, const ModelParts& parts) {
  if (holdsModelParts(extracted, parts)) return extracted;
  std::error_code error;
  std::optional<fs::path> only;
  for (auto it = fs::directory_iterator(extracted, error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    if (only) return std::nullopt;
    only = it->path();
  }
  if (error || !only || fs::is_symlink(*only, error) || !holdsModelParts(*only, parts)) {
    return std::nullopt;
  }
  return only;
}

// Clears what an earlier, interrupted attempt may have left, apart from the partial download.
void removeLeftovers(const AssetStoreLayout& layout) {
  removeStaleStaging(layout.root, layout.stagingPrefix());
  std::error_code error;
  fs::remove_all(layout.installed(), error);  // unmarked or incomplete, so not a model
  if (error) {
    throw PlatformError("Cannot remove the incomplete assets in " + layout.installed().string() +
                        ": " + error.message());
  }
}

void removePartial(const AssetStoreLayout& layout) {
  std::error_code ignored;
  fs::remove(layout.partial(), ignored);
}

}  // namespace

void installLocaleAssets(const AssetInstallJob& job) {
  const AssetStoreLayout layout{job.storeDirectory, job.localeIdentifier};
  const std::string locale = job.localeIdentifier;

  std::error_code error;
  fs::create_directories(layout.root, error);
  if (error) {
    throw PlatformError("Cannot create the asset store " + layout.root.string() + ": " +
                        error.message());
  }

  // 1. One installer per locale; whoever waited here finds the work done.
  const ExclusiveFileLock lock(layout.lock());
  if (isInstalledInStore(layout, job.model)) return;
  removeLeftovers(layout);

  // 2. Download, continuing what an earlier attempt fetched.
  downloadResumable(DownloadRequest{job.archiveURL, layout.partial(), job.size, locale});

  // 3. Verify.
  const std::string digest = sha256OfFile(layout.partial());
  if (digest != job.sha256) {
    removePartial(layout);
    throw PlatformError("Checksum of the downloaded assets for " + locale +
                        " does not match the catalog: expected " + job.sha256 + ", got " + digest);
  }

  // 4. Extract into a staging directory inside the store (same file system, so the rename
  // below is atomic).
  const StagingDirectory staging(layout.root, layout.stagingPrefix());
  const std::string label = "The archive of the assets for " + locale;
  try {
    extractArchive(layout.partial(), staging.path(), label);
  } catch (const PlatformError&) {
    removePartial(layout);  // verified, so fetching it again would give the same bytes
    throw;
  }

  // 5. Check, sync, move into place, mark.
  const auto model = locateModel(staging.path(), job.model);
  if (!model) {
    removePartial(layout);
    throw PlatformError(label + " holds no model: expected " + job.model.acoustic + "/, " +
                        job.model.language + " and " + job.model.dictionary +
                        " at its top or inside its one top-level directory");
  }
  syncTree(*model);
  if (::rename(model->c_str(), layout.installed().c_str()) != 0) {
    throw PlatformError(describeSystemError(
        "Cannot move the assets for " + locale + " into " + layout.installed().string(), errno));
  }
  syncDirectory(layout.root);
  writeFileDurably(layout.marker(), job.sha256 + "\n");
  removePartial(layout);
}

}  // namespace ondevice::platform
