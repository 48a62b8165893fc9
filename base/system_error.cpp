#include "base/system_error.h"

#include <cstring>

namespace ondevice {

std::string errnoText(int error) {
  char buffer[256];
  // The GNU strerror_r answers either its own static text or the buffer, never a shared one.
  return ::strerror_r(error, buffer, sizeof buffer);
}

std::string describeSystemError(std::string_view what, int error) {
  std::string description(what);
  description += ": ";
  description += errnoText(error);
  return description;
}

}  // namespace ondevice
