#include "platform/light/likely_script.h"

#include <algorithm>
#include <tuple>

#include "platform/light/likely_script_table.h"

namespace ondevice::platform {
namespace {

using likely::LanguageScript;
using likely::RegionScript;

constexpr auto kByLanguage = [](const LanguageScript& a, const LanguageScript& b) {
  return a.language < b.language;
};
constexpr auto kByRegion = [](const RegionScript& a, const RegionScript& b) {
  return std::tie(a.language, a.region) < std::tie(b.language, b.region);
};
// A catalog of many entries asks once per entry, so each lookup is a binary search.
static_assert(std::ranges::is_sorted(likely::kLanguages, kByLanguage));
static_assert(std::ranges::is_sorted(likely::kRegions, kByRegion));

}  // namespace

std::string_view likelyScript(std::string_view language, std::string_view region) {
  if (!region.empty()) {
    const RegionScript wanted{language, region, {}};
    const auto found = std::ranges::lower_bound(likely::kRegions, wanted, kByRegion);
    if (found != std::end(likely::kRegions) && found->language == language &&
        found->region == region) {
      return found->script;
    }
  }
  const LanguageScript wanted{language, {}};
  const auto found = std::ranges::lower_bound(likely::kLanguages, wanted, kByLanguage);
  if (found != std::end(likely::kLanguages) && found->language == language) return found->script;
  return {};
}

}  // namespace ondevice::platform
