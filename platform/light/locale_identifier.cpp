#include "platform/light/locale_identifier.h"

#include <algorithm>
#include <vector>

#include "base/ascii.h"
#include "platform/light/likely_script.h"

namespace ondevice::platform {
namespace {

bool allOf(std::string_view s, bool (*predicate)(char)) {
  return std::all_of(s.begin(), s.end(), predicate);
}

// Removes a trailing "@modifier" and then ".codeset"; false when either is malformed.
bool dropCodesetAndModifier(std::string_view& text) {
  if (const auto at = text.find('@'); at != std::string_view::npos) {
    const auto modifier = text.substr(at + 1);
    if (modifier.empty() || !allOf(modifier, isAsciiAlnum)) return false;
    text = text.substr(0, at);
  }
  if (const auto dot = text.find('.'); dot != std::string_view::npos) {
    const auto codeset = text.substr(dot + 1);
    if (codeset.empty() || !std::all_of(codeset.begin(), codeset.end(),
                                        [](char c) { return isAsciiAlnum(c) || c == '-'; })) {
      return false;
    }
    text = text.substr(0, dot);
  }
  return true;
}

std::vector<std::string_view> splitSubtags(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '-' || text[i] == '_') {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

// The script a locale is written in: the one it names, else the one its language and region
// imply; "" for a language whose script is not known.
std::string_view scriptOf(const LocaleParts& locale) {
  if (!locale.script.empty()) return locale.script;
  return likelyScript(locale.language, locale.region);
}

// Whether an entry in `offered` script serves a request for `requested`. A script the request
// names must be the entry's, also where the entry's language is one the script table does not
// know; a script only implied may differ only where either is unknown.
bool scriptsAgree(const LocaleParts& requested, std::string_view offered) {
  const std::string_view wanted = scriptOf(requested);
  if (!requested.script.empty()) return wanted == offered;
  return wanted.empty() || offered.empty() || wanted == offered;
}

}  // namespace

std::string LocaleParts::identifier() const {
  std::string id = language;
  if (!script.empty()) id += "_" + script;
  if (!region.empty()) id += "_" + region;
  return id;
}

std::optional<LocaleParts> parseLocaleIdentifier(std::string_view text) {
  if (!dropCodesetAndModifier(text)) return std::nullopt;
  const std::vector<std::string_view> subtags = splitSubtags(text);

  LocaleParts parts;
  size_t next = 0;
  const std::string_view language = subtags[next++];
  if ((language.size() != 2 && language.size() != 3) || !allOf(language, isAsciiAlpha)) {
    return std::nullopt;
  }
  parts.language = asciiLowered(language);
  if (next < subtags.size() && subtags[next].size() == 4 && allOf(subtags[next], isAsciiAlpha)) {
    parts.script = asciiLowered(subtags[next++]);
    parts.script[0] = asciiUpper(parts.script[0]);
  }
  if (next < subtags.size()) {
    const std::string_view region = subtags[next++];
    const bool letters = region.size() == 2 && allOf(region, isAsciiAlpha);
    const bool digits = region.size() == 3 && allOf(region, isAsciiDigit);
    if (!letters && !digits) return std::nullopt;
    parts.region = asciiUppered(region);
  }
  if (next != subtags.size()) return std::nullopt;
  return parts;
}

const CatalogEntry* equivalentCatalogEntry(const LocaleParts& requested,
                                           const AssetCatalog& catalog) {
  if (const CatalogEntry* exact = catalog.find(requested.identifier())) return exact;
  const bool bareLanguage = requested.script.empty() && requested.region.empty();
  for (const CatalogEntry& entry : catalog.entries()) {
    const auto offered = parseLocaleIdentifier(entry.identifier);
    if (!offered || offered->language != requested.language) continue;
    if (bareLanguage) return &entry;
    if (!requested.region.empty() && offered->region != requested.region) continue;
    if (scriptsAgree(requested, scriptOf(*offered))) return &entry;
  }
  return nullptr;
}

}  // namespace ondevice::platform
