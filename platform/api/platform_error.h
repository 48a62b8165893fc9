#pragma once
// The error types of the speech platform. A description is the text a host sees in the error
// record, so it is written for people and carries the library's own words where a library
// failed (av_strerror, curl_easy_strerror, strerror).
//
// Both types are thrown in the speech module and caught in the binary, so their type
// information is visible across that boundary.

#include <stdexcept>
#include <string>

namespace ondevice::platform {

class __attribute__((visibility("default"))) PlatformError : public std::runtime_error {
 public:
  explicit PlatformError(const std::string& description) : std::runtime_error(description) {}
};

// The file given as audio is not decodable audio: missing, not a regular file, unreadable, or
// holding nothing a decoder can turn into samples. Only this failure of opening an audio file is
// the file's fault; any other (the speech module cannot be loaded, memory ran out) is the
// platform's.
class __attribute__((visibility("default"))) UndecodableAudioError : public PlatformError {
 public:
  using PlatformError::PlatformError;
};

}  // namespace ondevice::platform
