#pragma once
// The one error type of the speech platform. Its description is the text a host sees in the
// error record, so it is written for people and carries the library's own words where a library
// failed (av_strerror, curl_easy_strerror, strerror).

#include <stdexcept>
#include <string>

namespace ondevice::platform {

class PlatformError : public std::runtime_error {
 public:
  explicit PlatformError(const std::string& description) : std::runtime_error(description) {}
};

}  // namespace ondevice::platform
