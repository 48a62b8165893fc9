#pragma once
// The script a locale is most likely written in when it names none, as Unicode CLDR's likely
// subtags say (common/supplemental/likelySubtags.xml), looked up as CLDR does: the language and
// region first, then the language alone. English is Latin, Russian Cyrillic; for the languages
// written in more than one script the region settles it (zh_TW is Traditional Han, zh_CN
// Simplified). The table holds every language CLDR knows (likely_script_table.h).
//
//   likelyScript("zh", "TW")    // "Hant"
//   likelyScript("zh", "SG")    // "Hans" (the language's own)
//   likelyScript("sr", "ME")    // "Latn"
//   likelyScript("en", "")      // "Latn"
//   likelyScript("qaa", "AQ")   // "" (a language CLDR does not know)

#include <string_view>

namespace ondevice::platform {

std::string_view likelyScript(std::string_view language, std::string_view region);

namespace likely {

struct LanguageScript {
  std::string_view language;
  std::string_view script;
};

struct RegionScript {
  std::string_view language;
  std::string_view region;
  std::string_view script;
};

}  // namespace likely
}  // namespace ondevice::platform
