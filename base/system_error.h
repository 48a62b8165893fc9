#pragma once
// Failed system calls described in words, the way std::system_error does ("<what>: <reason>"),
// but without strerror's shared buffer: the speech module calls these from worker threads.
//
//   if (::fsync(fd) != 0) throw SystemFailure(describeSystemError("Cannot sync " + name, errno));

#include <stdexcept>
#include <string>
#include <string_view>

namespace ondevice {

// What base's own operations throw when the system refuses (durable files, file locks), so that
// base stays free of any layer's error type; the layer that calls them passes the description on
// as its own error.
class __attribute__((visibility("default"))) SystemFailure : public std::runtime_error {
 public:
  explicit SystemFailure(const std::string& description) : std::runtime_error(description) {}
};

// The C library's text for an errno value ("No such file or directory").
std::string errnoText(int error);

// "<what>: <errnoText(error)>".
std::string describeSystemError(std::string_view what, int error);

}  // namespace ondevice
