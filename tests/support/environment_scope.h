#pragma once
// Sets environment variables of the test process for one scope and puts the old values back.
//
//   EnvironmentScope environment;
//   environment.set("ONDEVICE_STT_CATALOG", file.c_str());
//   environment.set("HOME", nullptr);  // unset

#include <stdlib.h>

#include <map>
#include <optional>
#include <string>

namespace ondevice::testing {

class EnvironmentScope {
 public:
  ~EnvironmentScope() {
    for (const auto& [name, value] : saved_) put(name.c_str(), value ? value->c_str() : nullptr);
  }

  void set(const char* name, const char* value) {
    const char* old = getenv(name);
    if (!saved_.contains(name)) saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    put(name, value);
  }

 private:
  static void put(const char* name, const char* value) {
    value != nullptr ? setenv(name, value, 1) : unsetenv(name);
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace ondevice::testing
