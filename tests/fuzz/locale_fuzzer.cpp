// Language strings of arbitrary bytes, parsed and matched against catalogs.
//
// Checked: a parsed locale has a 2 or 3 letter lower-case language, an empty or title-case
// 4 letter script and an empty, 2 letter upper-case or 3 digit region; its identifier parses
// back to the same parts; a catalog match shares the language and, when one was asked for, the
// region; it is the catalog's entry of exactly the parsed locale when there is one, and never one
// written in another script than the one asked for.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/light/asset_catalog.h"
#include "platform/light/locale_identifier.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using ondevice::platform::AssetCatalog;
using ondevice::platform::LocaleParts;

bool lowerLetters(std::string_view s) {
  for (const char c : s) {
    if (c < 'a' || c > 'z') return false;
  }
  return true;
}
bool upperLetters(std::string_view s) {
  for (const char c : s) {
    if (c < 'A' || c > 'Z') return false;
  }
  return true;
}
bool digits(std::string_view s) {
  for (const char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

const AssetCatalog& catalogWithSeveralLanguages() {
  static const AssetCatalog catalog = AssetCatalog::parse(
      R"({"locales": {"en_US": {}, "en_GB": {}, "de_DE": {}, "sr_RS": {}, "sr_Latn_RS": {},
                      "sr_Cyrl_RS": {}, "es_419": {}, "zh_CN": {}, "zh_Hans": {},
                      "zh_Hant_TW": {}, "haw": {}}})",
      "fuzz catalog");
  return catalog;
}

void checkMatch(const LocaleParts& requested, const AssetCatalog& catalog) {
  const auto* entry = ondevice::platform::equivalentCatalogEntry(requested, catalog);
  if (entry == nullptr) return;
  const auto offered = ondevice::platform::parseLocaleIdentifier(entry->identifier);
  FUZZ_CHECK(offered.has_value(), entry->identifier);
  FUZZ_CHECK(offered->language == requested.language, entry->identifier);
  if (!requested.region.empty()) {
    FUZZ_CHECK(offered->region == requested.region, entry->identifier);
  }
  if (const auto* exact = catalog.find(requested.identifier())) {
    FUZZ_CHECK(entry == exact, entry->identifier);
  }
  if (!requested.script.empty() && !offered->script.empty()) {
    FUZZ_CHECK(offered->script == requested.script, entry->identifier);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto parts = ondevice::platform::parseLocaleIdentifier(text);
  if (!parts) return 0;

  FUZZ_CHECK(
      (parts->language.size() == 2 || parts->language.size() == 3) && lowerLetters(parts->language),
      parts->language);
  FUZZ_CHECK(parts->script.empty() ||
                 (parts->script.size() == 4 && upperLetters(parts->script.substr(0, 1)) &&
                  lowerLetters(parts->script.substr(1))),
             parts->script);
  FUZZ_CHECK(parts->region.empty() || (parts->region.size() == 2 && upperLetters(parts->region)) ||
                 (parts->region.size() == 3 && digits(parts->region)),
             parts->region);
  const std::string identifier = parts->identifier();
  const auto again = ondevice::platform::parseLocaleIdentifier(identifier);
  FUZZ_CHECK(again.has_value() && *again == *parts, identifier);

  checkMatch(*parts, AssetCatalog::builtIn());
  checkMatch(*parts, catalogWithSeveralLanguages());
  return 0;
}
