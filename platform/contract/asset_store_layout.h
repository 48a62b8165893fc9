#pragma once
// Names of a locale's entries in the asset store, shared by the status check (in the binary) and
// the installer (in the speech module) so that both always look at the same files.
//
//   AssetStoreLayout layout{"/home/me/.local/share/ondevice-stt/assets", "en_US"};
//   layout.marker();   // .../assets/en_US/.installed

#include <filesystem>
#include <string>

#include "platform/contract/installed_marker.h"
#include "platform/contract/model_parts.h"

namespace ondevice::platform {

struct AssetStoreLayout {
  std::filesystem::path root;
  std::string locale;

  // The installed model: the three parts lie directly inside it.
  std::filesystem::path installed() const { return root / locale; }
  // Written last; without it the directory above is not a model.
  std::filesystem::path marker() const { return installed() / ".installed"; }
  std::filesystem::path lock() const { return root / (locale + ".lock"); }
  std::filesystem::path partial() const { return root / (locale + ".partial"); }
  // Staging directories are named this prefix plus a unique suffix.
  std::string stagingPrefix() const { return locale + ".staging-"; }
};

// Whether the locale's model is installed in the store: marked, its parts in place, and the
// files its marker records of the sizes recorded (installed_marker.h). The one answer to that
// question, for the status check and the installer alike. Costs a small read and a stat per
// recorded file; never throws but for a lack of memory.
inline bool isInstalledInStore(const AssetStoreLayout& layout, const ModelParts& parts) {
  return holdsModelParts(layout.installed(), parts) &&
         markerHolds(layout.marker(), layout.installed());
}

}  // namespace ondevice::platform
