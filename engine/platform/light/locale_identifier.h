#pragma once
// Parsing of language strings and matching them against the catalog's locales.
//
// Accepted forms: POSIX (en_US, en_US.UTF-8, en_US@euro) and BCP 47 (en-US, en-Latn-US). Codeset
// and modifier are dropped, "-" and "_" are the same separator, the language compares lower case,
// the region upper case and the script title case. Nothing else is cleaned: a blank or any other
// stray character makes the string name no locale.
//
//   parseLocaleIdentifier("EN-us")->identifier()   // "en_US"
//   parseLocaleIdentifier("en_US ")                 // nullopt

#include <optional>
#include <string>
#include <string_view>

#include "engine/platform/light/asset_catalog.h"

namespace ondevice::platform {

struct LocaleParts {
  std::string language;  // 2 or 3 letters, lower case
  std::string script;    // 4 letters, title case, or empty
  std::string region;    // 2 letters upper case or 3 digits, or empty

  // POSIX style: language[_Script][_REGION].
  std::string identifier() const;
  friend bool operator==(const LocaleParts&, const LocaleParts&) = default;
};

std::optional<LocaleParts> parseLocaleIdentifier(std::string_view text);

// The catalog entry equivalent to `requested`: same language, region and script (a script given
// on one side only does not count against a match); a bare language takes the catalog's first
// entry of that language. None when nothing matches.
const CatalogEntry* equivalentCatalogEntry(const LocaleParts& requested,
                                           const AssetCatalog& catalog);

}  // namespace ondevice::platform
