#pragma once
// Downloads, verifies, extracts and installs one locale's model assets into the store.

#include "engine/platform/speech_module.h"

namespace ondevice::platform {

// Throws PlatformError; a failure leaves the locale not installed and the store usable.
void installLocaleAssets(const AssetInstallJob& job);

}  // namespace ondevice::platform
