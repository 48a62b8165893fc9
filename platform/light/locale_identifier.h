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

#include "platform/light/asset_catalog.h"

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

// The catalog entry equivalent to `requested`. The entry of exactly its language, script and
// region comes first. Else a bare language takes the catalog's first entry of that language;
// any other request the first entry of the same language and region (any region when it names
// none) whose script does not differ. A script counts whether it is named or implied by the
// language and region (likely_script.h: en is Latin, zh_TW Traditional, zh_CN Simplified), so a
// request for one script never gets a model of another: zh-Hant never resolves to zh_CN, nor
// en-Cyrl to en_US. A script the request names matches only an entry known to be in it: for a
// language whose script is not known, one that names the same script. None when nothing
// matches.
const CatalogEntry* equivalentCatalogEntry(const LocaleParts& requested,
                                           const AssetCatalog& catalog);

}  // namespace ondevice::platform
