#pragma once
// Failed system calls described in words, the way std::system_error does ("<what>: <reason>"),
// but without strerror's shared buffer: the speech module calls these from worker threads.
//
//   if (::fsync(fd) != 0) throw PlatformError(describeSystemError("Cannot sync " + name, errno));

#include <string>
#include <string_view>

namespace ondevice {

// The C library's text for an errno value ("No such file or directory").
std::string errnoText(int error);

// "<what>: <errnoText(error)>".
std::string describeSystemError(std::string_view what, int error);

}  // namespace ondevice
