#pragma once
// Where installed model assets live, and what state a locale's assets are in. This half does no
// network and no archive work, so that checking an installed locale stays cheap.
//
// Store layout (the root comes from the platform's settings, settings.h; it may be a link to a
// directory, the names inside it may not):
//   <root>/<locale>/            the installed model, complete only when the marker exists and
//                               the file sizes it records hold (installed_marker.h)
//   <root>/<locale>/.installed  the marker, written last
//   <root>/<locale>.lock        the per-locale install lock (flock); it stays
//   <root>/<locale>.partial     a download in progress, resumed by the next attempt
//   <root>/<locale>.staging-*   an extraction in progress, signed as the installer's own

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/api/speech_platform.h"
#include "platform/contract/speech_module.h"
#include "platform/light/asset_catalog.h"

namespace ondevice::platform {

class AssetStore {
 public:
  explicit AssetStore(std::filesystem::path root) : root_(std::move(root)) {}

  const std::filesystem::path& root() const { return root_; }

  AssetStatus status(const CatalogEntry& entry) const;
  // The installed model, from the store or from the system directory.
  std::optional<ModelFiles> installedModel(const CatalogEntry& entry) const;
  // A request that installs `entry` into this store; none when it is installed already.
  std::unique_ptr<AssetInstallationRequest> installationRequest(const CatalogEntry& entry) const;

 private:
  std::filesystem::path root_;
};

}  // namespace ondevice::platform
