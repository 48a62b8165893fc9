#pragma once
// The script a locale is written in when it names none, for the few languages written in more
// than one script: there the region settles it (zh_TW is Traditional Han, zh_CN Simplified),
// and so does the language alone (zh is Simplified). For every other language the script goes
// without saying, and none is implied.
//
// A small part of CLDR's likely subtags (the Unicode Common Locale Data Repository,
// common/supplemental/likelySubtags.xml): its entries for those languages, looked up as CLDR
// does, language and region first, then the language alone.
//
//   impliedScript("zh", "TW")   // "Hant"
//   impliedScript("zh", "SG")   // "Hans" (the language's own)
//   impliedScript("sr", "ME")   // "Latn"
//   impliedScript("en", "US")   // "" (written in one script)

#include <string_view>

namespace ondevice::platform {

std::string_view impliedScript(std::string_view language, std::string_view region);

}  // namespace ondevice::platform
