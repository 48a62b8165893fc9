#pragma once
// A fault of a downloaded archive itself: an entry that is refused, contents too large, not an
// archive, a model the recogniser cannot load. Fetching the same verified bytes again cannot
// help, so the installer drops the download; any other failure (a full disk, a failed write)
// keeps it for the next attempt.

#include "platform/api/platform_error.h"

namespace ondevice::platform {

class ArchiveFault : public PlatformError {
 public:
  using PlatformError::PlatformError;
};

}  // namespace ondevice::platform
