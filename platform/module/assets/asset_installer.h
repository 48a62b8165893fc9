#pragma once
// Downloads, verifies, extracts, checks and installs one locale's model assets into the store.

#include <chrono>

#include "platform/contract/speech_module.h"

namespace ondevice::platform {

struct InstallSettings {
  // A download slower than 1 KiB/s on average over this window fails.
  std::chrono::seconds slowDownloadWindow{60};
  // How long the recogniser may take to load the model when it is checked before installing.
  std::chrono::milliseconds modelLoadTimeLimit{std::chrono::minutes(2)};
};

// Throws PlatformError. A failure leaves the locale not installed and the store as it was,
// except for the locale's lock file, a partial download with bytes in it (kept for the next
// attempt to resume), and a verified download kept when the failure was not the archive's own
// (a full disk, a failed write). Only what the installer made is ever removed or replaced, and
// only once the new model is ready: its own staging directories, and a model it moved in that is
// not installed (anymore); anything else in the model's place is an error naming it, before any
// download.
void installLocaleAssets(const AssetInstallJob& job, const InstallSettings& settings = {});

}  // namespace ondevice::platform
