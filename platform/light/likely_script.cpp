#include "platform/light/likely_script.h"

namespace ondevice::platform {
namespace {

struct LikelyScript {
  std::string_view language;
  std::string_view region;  // "" for the language's own
  std::string_view script;
};

// From CLDR's likelySubtags.xml ("zh" -> zh_Hans_CN, "zh_TW" -> zh_Hant_TW, ...), for the
// languages in common use in more than one script; a language's own entry has no region.
constexpr LikelyScript kLikelyScripts[] = {
    {"az", "", "Latn"},    {"az", "IQ", "Arab"}, {"az", "IR", "Arab"}, {"bs", "", "Latn"},
    {"ha", "", "Latn"},    {"kk", "", "Cyrl"},   {"kk", "CN", "Arab"}, {"ks", "", "Arab"},
    {"mn", "", "Cyrl"},    {"mn", "CN", "Mong"}, {"ms", "", "Latn"},   {"pa", "", "Guru"},
    {"pa", "PK", "Arab"},  {"sd", "", "Arab"},   {"sd", "IN", "Deva"}, {"sr", "", "Cyrl"},
    {"sr", "ME", "Latn"},  {"uz", "", "Latn"},   {"uz", "AF", "Arab"}, {"yue", "", "Hant"},
    {"yue", "CN", "Hans"}, {"zh", "", "Hans"},   {"zh", "HK", "Hant"}, {"zh", "MO", "Hant"},
    {"zh", "TW", "Hant"},
};

std::string_view lookUp(std::string_view language, std::string_view region) {
  for (const LikelyScript& likely : kLikelyScripts) {
    if (likely.language == language && likely.region == region) return likely.script;
  }
  return {};
}

}  // namespace

std::string_view impliedScript(std::string_view language, std::string_view region) {
  if (!region.empty()) {
    if (const std::string_view script = lookUp(language, region); !script.empty()) return script;
  }
  return lookUp(language, "");
}

}  // namespace ondevice::platform
