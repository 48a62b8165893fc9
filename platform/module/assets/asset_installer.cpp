#include "platform/module/assets/asset_installer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <system_error>
#include <vector>

#include "base/saturating.h"
#include "base/system_error.h"
#include "platform/api/platform_error.h"
#include "platform/contract/asset_store_layout.h"
#include "platform/contract/installed_marker.h"
#include "platform/module/assets/archive_extractor.h"
#include "platform/module/assets/archive_fault.h"
#include "base/durable_files.h"
#include "base/file_lock.h"
#include "platform/module/assets/free_space.h"
#include "platform/module/assets/http_download.h"
#include "platform/module/assets/link_containment.h"
#include "platform/module/assets/sha256.h"
#include "platform/module/assets/staging_directory.h"
#include "platform/module/model/model_load_check.h"

namespace ondevice::platform {
namespace {

namespace fs = std::filesystem;

// Without an installedSize in the catalog, an archive may unpack to at most this many times its
// own size. Measured on the en-us model of pocketsphinx-en-us: it unpacks to 1.32 times its
// .tar.gz and 1.55 times its .tar.xz; its most compressible part, the text dictionary, to 3.8
// and 4.6 times. 20 leaves ample room for models with text language models, and still stops a
// bomb (gzip packs zeros about 1000 to 1) long before it fills a disk.
constexpr std::uint64_t kDefaultExpansion = 20;

// The size of a regular file, 0 for anything else or nothing.
std::uint64_t regularFileSize(const fs::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

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

// The store's root, created when missing and resolved once: the root may be a link to a
// directory elsewhere (ONDEVICE_STT_ASSETS=/opt/stt-assets -> /data/stt-assets), while nothing
// inside it is followed as a link.
fs::path resolvedStoreRoot(const std::string& configured) {
  std::error_code error;
  fs::create_directories(configured, error);
  fs::path root;
  if (!error) root = fs::canonical(configured, error);
  if (error) {
    throw PlatformError("Cannot create the asset store " + configured + ": " + error.message());
  }
  return root;
}

[[noreturn]] void failInTheWay(const AssetStoreLayout& layout, const fs::path& path) {
  throw PlatformError("Cannot install the assets for " + layout.locale + ": " + path.string() +
                      " is in the way (it is not what ondevice-stt made there)");
}

// Whether the model's place holds a model that this tool moved in, complete or not: one it
// marked, or one that carries its signature (staging_directory.h). Only such a model is ever
// replaced; whatever else bears the locale's name is another's.
bool holdsOwnModel(const AssetStoreLayout& layout) {
  struct stat info {};
  return carriesOwnSignature(layout.installed()) ||
         (::lstat(layout.installed().c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
          ::lstat(layout.marker().c_str(), &info) == 0 && S_ISREG(info.st_mode));
}

// Before anything is fetched: the model's place must be free or hold a model of this tool's.
void requirePlaceForModel(const AssetStoreLayout& layout) {
  struct stat info {};
  if (::lstat(layout.installed().c_str(), &info) != 0) {
    if (errno == ENOENT) return;
    throw PlatformError(describeSystemError("Cannot read " + layout.installed().string(), errno));
  }
  if (!holdsOwnModel(layout)) failInTheWay(layout, layout.installed());
}

// A partial download that is no regular file is only in the way: a link, a FIFO, a socket or a
// device loses nothing but its name (never what a link points to), and so does an empty
// directory; a directory with anything in it is another's, and stops the install.
void clearUnusablePartial(const AssetStoreLayout& layout) {
  const fs::path partial = layout.partial();
  struct stat info {};
  if (::lstat(partial.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return;
  if (S_ISDIR(info.st_mode) ? ::rmdir(partial.c_str()) == 0 : ::unlink(partial.c_str()) == 0) {
    return;
  }
  if (S_ISDIR(info.st_mode) && (errno == ENOTEMPTY || errno == EEXIST)) {
    failInTheWay(layout, partial);
  }
  throw PlatformError(describeSystemError("Cannot remove " + partial.string(), errno));
}

void removePartial(const AssetStoreLayout& layout) {
  std::error_code ignored;
  fs::remove(layout.partial(), ignored);
}

std::string assetsOf(const AssetStoreLayout& layout) { return "the assets of " + layout.locale; }

// What is left to download and, when the catalog says, what it will unpack to, must fit.
void requireRoomForDownload(const AssetStoreLayout& layout, const AssetInstallJob& job) {
  if (!job.size && !job.installedSize) return;
  const std::uint64_t kept = regularFileSize(layout.partial());
  const std::uint64_t rest = job.size && *job.size > kept ? *job.size - kept : 0;
  requireFreeSpace(layout.root, {saturatingSum(rest, job.installedSize.value_or(0)), 1},
                   assetsOf(layout));
}

SizeLimit extractedSizeLimit(const AssetInstallJob& job, std::uint64_t archiveBytes) {
  if (job.installedSize) return {*job.installedSize, "the catalog's installedSize"};
  return {saturatingProduct(archiveBytes, kDefaultExpansion),
          std::to_string(kDefaultExpansion) + " times the archive's size"};
}

// Loads the model in a process of its own before it is installed: a model the recogniser cannot
// load is the archive's fault.
void requireLoadableModel(const ModelFiles& model, std::chrono::milliseconds timeLimit,
                          const std::string& label) {
  const ModelLoadVerdict verdict = checkModelLoads(model, timeLimit);
  const std::string refused = label + " is refused: the speech recogniser cannot load its model";
  switch (verdict.outcome) {
    case ModelLoadVerdict::Outcome::loaded:
      return;
    case ModelLoadVerdict::Outcome::refused:
      throw ArchiveFault(verdict.why.empty() ? refused : refused + " (" + verdict.why + ")");
    case ModelLoadVerdict::Outcome::timedOut:
      throw ArchiveFault(
          refused + " within " +
          std::to_string(std::chrono::duration_cast<std::chrono::seconds>(timeLimit).count()) +
          " s");
    case ModelLoadVerdict::Outcome::couldNotRun:
      break;
  }
  throw PlatformError(label + " cannot be checked: the process loading its model could not start");
}

// The files the recogniser reads, with their sizes, for the marker: the language model, the
// dictionary and the files of the acoustic model's directory (a dozen for a PocketSphinx model;
// at most kMostRecordedFiles, so that checking them stays a few stats).
constexpr std::size_t kMostRecordedFiles = 64;

std::vector<RecordedFile> filesToRecord(const fs::path& model, const ModelParts& parts) {
  std::vector<RecordedFile> files;
  const auto record = [&](const std::string& path) {
    struct stat info {};
    if (files.size() < kMostRecordedFiles && path.find('\n') == std::string::npos &&
        ::stat((model / path).c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
      files.push_back({path, static_cast<std::uint64_t>(info.st_size)});
    }
  };
  record(parts.language);
  record(parts.dictionary);
  std::vector<std::string> acoustic;
  std::error_code error;
  for (auto it = fs::directory_iterator(model / parts.acoustic, error);
       !error && it != fs::directory_iterator(); it.increment(error)) {
    acoustic.push_back(it->path().filename().string());
  }
  std::sort(acoustic.begin(), acoustic.end());
  for (const std::string& name : acoustic) record(parts.acoustic + "/" + name);
  return files;
}

// The model, still in its staging directory, made ready to take its place: whatever the
// archive put under the names of the marker is dropped (only the installer marks a model), and
// the model is signed as the installer's own.
void prepareForPlace(const fs::path& model, const AssetStoreLayout& layout) {
  for (const fs::path& stray : {model / layout.marker().filename(),
                                model / (layout.marker().filename().string() + ".tmp")}) {
    std::error_code error;
    fs::remove_all(stray, error);
    if (error) {
      throw PlatformError("Cannot remove " + stray.string() + ": " + error.message());
    }
  }
  signAsOwn(model);
}

// Renames the checked model into place and marks it. What holds the place by then (the store
// is not the installer's alone) is replaced only when it is a model of this tool's: it goes into
// the staging directory, to be removed with it; anything else stops the install. A failure after
// the rename takes the model out again, so that nothing unmarked is left behind.
void moveIntoPlace(const fs::path& model, const AssetStoreLayout& layout,
                   const StagingDirectory& staging, const std::string& marker) {
  const fs::path replaced = staging.path() / "replaced";
  bool movedAside = false;
  if (struct stat info{}; ::lstat(layout.installed().c_str(), &info) == 0) {
    if (!holdsOwnModel(layout)) failInTheWay(layout, layout.installed());
    if (::rename(layout.installed().c_str(), replaced.c_str()) != 0) {
      throw PlatformError(describeSystemError("Cannot move the earlier assets for " +
                                                  layout.locale + " out of " +
                                                  layout.installed().string(),
                                              errno));
    }
    movedAside = true;
  }
  if (::rename(model.c_str(), layout.installed().c_str()) != 0) {
    const int error = errno;
    if (movedAside) ::rename(replaced.c_str(), layout.installed().c_str());
    throw PlatformError(describeSystemError(
        "Cannot move the assets for " + layout.locale + " into " + layout.installed().string(),
        error));
  }
  try {
    syncDirectory(layout.root);
    writeFileDurably(layout.marker(), marker);
  } catch (...) {
    std::error_code ignored;
    fs::remove_all(layout.installed(), ignored);
    try {
      syncDirectory(layout.root);
    } catch (const PlatformError&) {
      // The failure being reported says more.
    }
    throw;
  }
}

// Everything after the checksum: measure, extract, check, move into place, mark.
void installVerifiedArchive(const AssetInstallJob& job, const AssetStoreLayout& layout,
                            const InstallSettings& settings) {
  const std::string label = "The archive of the assets for " + layout.locale;
  const SizeLimit limit = extractedSizeLimit(job, regularFileSize(layout.partial()));
  // Refused or found not to fit before a byte is written.
  const ArchiveContents contents = measureArchive(layout.partial(), limit, label);
  requireFreeSpace(layout.root, {contents.bytes, contents.entries}, assetsOf(layout));

  // Staged inside the store (same file system, so the rename below is atomic).
  const StagingDirectory staging(layout.root, layout.stagingPrefix());
  extractArchive(layout.partial(), staging.contents(), label, limit);
  const auto model = locateModel(staging.contents(), job.model);
  if (!model) {
    throw ArchiveFault(label + " holds no model: expected " + job.model.acoustic + "/, " +
                       job.model.language + " and " + job.model.dictionary +
                       " at its top or inside its one top-level directory");
  }
  // Only the model directory is moved into place: its links must stay inside it.
  refuseLinksLeaving(*model, label, "the model directory");
  requireLoadableModel(modelFilesIn(*model, job.model), settings.modelLoadTimeLimit, label);
  prepareForPlace(*model, layout);
  const std::string marker = markerText(job.sha256, filesToRecord(*model, job.model));
  syncTree(*model);
  moveIntoPlace(*model, layout, staging, marker);
}

}  // namespace

void installLocaleAssets(const AssetInstallJob& job, const InstallSettings& settings) {
  const AssetStoreLayout layout{resolvedStoreRoot(job.storeDirectory), job.localeIdentifier};
  const std::string locale = job.localeIdentifier;

  // 1. One installer per locale; whoever waited here finds the work done.
  const ExclusiveFileLock lock(layout.lock());
  if (isInstalledInStore(layout, job.model)) return;
  requirePlaceForModel(layout);
  clearUnusablePartial(layout);

  // 2. Download, continuing what an earlier attempt fetched.
  requireRoomForDownload(layout, job);
  DownloadRequest download{job.archiveURL, layout.partial(), job.size, locale};
  download.slowWindow = settings.slowDownloadWindow;
  downloadResumable(download);

  // 3. Verify.
  const std::string digest = sha256OfFile(layout.partial());
  if (digest != job.sha256) {
    removePartial(layout);
    throw PlatformError("Checksum of the downloaded assets for " + locale +
                        " does not match the catalog: expected " + job.sha256 + ", got " + digest);
  }

  // 4. Extract, check and install, once what killed installs of this tool left is out of the
  // way (nothing is removed before a verified download is there to replace it).
  removeOwnStaging(layout.root, layout.stagingPrefix());
  try {
    installVerifiedArchive(job, layout, settings);
  } catch (const ArchiveFault&) {
    removePartial(layout);  // verified, so fetching it again would give the same bytes
    throw;
  }
  removePartial(layout);
}

}  // namespace ondevice::platform
