#pragma once
// A locale of the speech platform: an identifier such as "en_US". Building one never fails; the
// identifier of a locale the platform resolved is written POSIX style (language_REGION).

#include <string>
#include <utility>

namespace ondevice::platform {

class Locale {
 public:
  explicit Locale(std::string identifier) : identifier_(std::move(identifier)) {}

  const std::string& identifier() const { return identifier_; }

  friend bool operator==(const Locale&, const Locale&) = default;

 private:
  std::string identifier_;
};

}  // namespace ondevice::platform
