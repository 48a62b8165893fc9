// Asset catalogs of arbitrary bytes.
//
// Checked: parsing either succeeds or throws PlatformError naming the catalog (never another
// exception, never a crash); what it accepts holds identifiers in POSIX form, one per locale
// (they become file names in the store), model parts relative and free of "..", a system
// directory absolute, every archive paired with 64 lower-case hex digits, and no NUL in any
// string.

#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/api/platform_error.h"
#include "platform/light/asset_catalog.h"
#include "platform/light/locale_identifier.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// Letters, digits and '_' only, and already the identifier the locale parser gives.
bool posixIdentifier(const std::string& identifier) {
  if (identifier.empty()) return false;
  for (const char c : identifier) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) {
      return false;
    }
  }
  const auto parsed = ondevice::platform::parseLocaleIdentifier(identifier);
  return parsed && parsed->identifier() == identifier;
}

bool freeOfNul(const std::string& text) { return text.find('\0') == std::string::npos; }

bool insideModelDirectory(const std::string& part) {
  if (part.empty() || part.front() == '/') return false;
  size_t start = 0;
  while (start <= part.size()) {
    const size_t end = std::min(part.find('/', start), part.size());
    if (part.compare(start, end - start, "..") == 0) return false;
    start = end + 1;
  }
  return true;
}

bool lowerHex64(const std::string& text) {
  if (text.size() != 64) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string json(reinterpret_cast<const char*>(data), size);
  try {
    const auto catalog = ondevice::platform::AssetCatalog::parse(json, "fuzz.json");
    for (const auto& entry : catalog.entries()) {
      FUZZ_CHECK(posixIdentifier(entry.identifier), entry.identifier);
      FUZZ_CHECK(catalog.find(entry.identifier) == &entry, entry.identifier);
      FUZZ_CHECK(!entry.system || freeOfNul(*entry.system), *entry.system);
      FUZZ_CHECK(!entry.archive || freeOfNul(*entry.archive), *entry.archive);
      FUZZ_CHECK(!entry.system || entry.system->starts_with("/"), *entry.system);
      FUZZ_CHECK(!entry.archive || lowerHex64(entry.sha256), entry.sha256);
      FUZZ_CHECK(entry.sha256.empty() || lowerHex64(entry.sha256), entry.sha256);
      for (const auto* part :
           {&entry.model.acoustic, &entry.model.language, &entry.model.dictionary}) {
        FUZZ_CHECK(insideModelDirectory(*part) && freeOfNul(*part), *part);
      }
    }
  } catch (const ondevice::platform::PlatformError& e) {
    const std::string description = e.what();
    FUZZ_CHECK(description.find("fuzz.json") != std::string::npos, description);
  }
  return 0;
}
