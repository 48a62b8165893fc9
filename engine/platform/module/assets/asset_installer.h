#pragma once
// Downloads, verifies, extracts, checks and installs one locale's model assets into the store.

#include <chrono>

#include "engine/platform/speech_module.h"

namespace ondevice::platform {

struct InstallSettings {
  // A download slower than 1 KiB/s on average over this window fails.
  std::chrono::seconds slowDownloadWindow{60};
  // How long the recogniser may take to load the model when it is checked before installing.
  std::chrono::milliseconds modelLoadTimeLimit{std::chrono::minutes(2)};
};

// Throws PlatformError. A failure leaves the locale not installed and the store as it was,
// except that a verified download is kept for the next attempt when the failure was not the
// archive's own (a full disk, a failed write).
void installLocaleAssets(const AssetInstallJob& job, const InstallSettings& settings = {});

}  // namespace ondevice::platform
