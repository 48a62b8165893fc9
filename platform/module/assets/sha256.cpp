#include "platform/module/assets/sha256.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "base/regular_file.h"
#include "base/system_error.h"
#include "platform/api/platform_error.h"

namespace ondevice::platform {
namespace {

struct DigestContextFree {
  void operator()(EVP_MD_CTX* context) const noexcept { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

[[noreturn]] void failWithOpenSSL(const std::string& what) {
  char text[256] = "unknown error";
  if (const unsigned long code = ERR_get_error(); code != 0) {
    ERR_error_string_n(code, text, sizeof text);
  }
  ERR_clear_error();
  throw PlatformError(what + ": " + text);
}

}  // namespace

std::string sha256OfFile(const std::filesystem::path& path) {
  const auto unreadable = [&](int error) {
    return PlatformError(describeSystemError("Cannot read " + path.string(), error));
  };
  const RegularFile file = RegularFile::open(path.c_str());
  switch (file.refusal()) {
    case RegularFile::Refusal::cannotOpen:
      throw unreadable(file.error());
    case RegularFile::Refusal::directory:
      throw unreadable(EISDIR);
    case RegularFile::Refusal::notRegular:
      throw PlatformError("Cannot read " + path.string() + ": it is not a regular file");
    case RegularFile::Refusal::none:
      break;
  }

  DigestContext context(EVP_MD_CTX_new());
  if (!context) failWithOpenSSL("Cannot start a SHA-256 digest");
  if (EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    failWithOpenSSL("Cannot start a SHA-256 digest");
  }
  std::vector<unsigned char> buffer(1 << 16);
  for (;;) {
    const ssize_t n = file.read(buffer.data(), buffer.size());
    if (n == 0) break;
    if (n < 0) throw unreadable(errno);
    if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(n)) != 1) {
      failWithOpenSSL("SHA-256 digest failed");
    }
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
    failWithOpenSSL("SHA-256 digest failed");
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 0x0f]);
  }
  return hex;
}

}  // namespace ondevice::platform
