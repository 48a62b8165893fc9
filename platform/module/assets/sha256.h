#pragma once
// SHA-256 of a file through OpenSSL's EVP interface.

#include <filesystem>
#include <string>

namespace ondevice::platform {

// Lower-case hex digest of the file's bytes; throws PlatformError when it cannot be read.
std::string sha256OfFile(const std::filesystem::path& path);

}  // namespace ondevice::platform
