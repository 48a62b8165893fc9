#include "platform/light/asset_catalog.h"

#include <cerrno>
#include <nlohmann/json.hpp>

#include "base/ascii.h"
#include "base/contained_path.h"
#include "base/regular_file.h"
#include "base/system_error.h"
#include "platform/api/platform_error.h"
#include "platform/contract/json_keys.h"
#include "platform/light/locale_identifier.h"

namespace ondevice::platform {
namespace {

// Objects are sorted maps: inserting a key costs a logarithm, where an insertion-ordered map
// searched every earlier key (100 000 locales took 12 s). The order of the locales is recorded
// separately while parsing.
using Json = nlohmann::json;

constexpr const char* kSystemModelDirectory = "/usr/share/pocketsphinx/model/en-us";

[[noreturn]] void fail(const std::string& source, const std::string& what) {
  throw PlatformError("Asset catalog " + source + " is not usable: " + what);
}

[[noreturn]] void unreadable(const std::string& source, int error) {
  fail(source, "cannot be read (" + errnoText(error) + ")");
}

// A catalog string as an error description shows it. A NUL is spelled out: the description
// travels as a C string, which would end there.
std::string shown(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\0') {
      out += "\\u0000";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

bool holdsNul(const std::string& text) { return text.find('\0') != std::string::npos; }

bool isLowerHex64(std::string& text) {
  if (text.size() != 64) return false;
  for (char& c : text) {
    c = asciiLower(c);
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// Paths, URLs and digests reach the file system and libraries as C strings, where a NUL would
// silently cut them short, so no catalog string may hold one.
std::string optionalString(const Json& object, const char* key, const std::string& where,
                           const std::string& source, bool& present) {
  present = false;
  const auto it = object.find(key);
  if (it == object.end()) return {};
  if (!it->is_string()) fail(source, where + "\"" + key + "\" must be a string");
  std::string value = it->get<std::string>();
  if (holdsNul(value)) fail(source, where + "\"" + key + "\" holds a NUL character");
  present = true;
  return value;
}

std::optional<std::uint64_t> optionalByteCount(const Json& object, const char* key,
                                               const std::string& where,
                                               const std::string& source) {
  const auto it = object.find(key);
  if (it == object.end()) return std::nullopt;
  if (!it->is_number_unsigned()) {
    fail(source, where + "\"" + key + "\" must be a non-negative whole number of bytes");
  }
  return it->get<std::uint64_t>();
}

std::string modelPart(const Json& model, const char* key, const std::string& fallback,
                      const std::string& where, const std::string& source) {
  bool present = false;
  std::string value = optionalString(model, key, where + "model ", source, present);
  if (!present) return fallback;
  // Model part names are relative to the installed directory and must stay inside it.
  if (!containedComponents(value)) {
    fail(source, where + "model \"" + key + "\" must be a path inside the model directory");
  }
  return value;
}

// The POSIX identifier of a catalog key. Identifiers name the locale's entries in the store, so
// a normalised one holds only letters, digits and '_'.
std::string identifierOf(const std::string& key, const std::string& source) {
  const std::string where = "locale \"" + shown(key) + "\": ";
  if (holdsNul(key)) fail(source, where + "the key holds a NUL character");
  const std::optional<LocaleParts> parts = parseLocaleIdentifier(key);
  if (!parts) {
    fail(source, where + "the key is not a locale identifier (such as en_US or en-US)");
  }
  return parts->identifier();
}

CatalogEntry parseEntry(const std::string& key, const Json& value, const std::string& source) {
  CatalogEntry entry;
  entry.identifier = identifierOf(key, source);
  const std::string where = "locale \"" + key + "\": ";
  if (!value.is_object()) fail(source, where + "the entry must be an object");

  bool present = false;
  std::string system = optionalString(value, "system", where, source, present);
  if (present) {
    if (system.empty() || system.front() != '/') {
      fail(source, where + "\"system\" must be an absolute directory");
    }
    entry.system = system;
  }
  std::string archive = optionalString(value, "archive", where, source, present);
  if (present) entry.archive = archive;
  std::string sha256 = optionalString(value, "sha256", where, source, present);
  if (present) {
    if (!isLowerHex64(sha256)) fail(source, where + "\"sha256\" must be 64 hexadecimal digits");
    entry.sha256 = sha256;
  }
  if (entry.archive && entry.sha256.empty()) {
    fail(source, where + "an \"archive\" needs its \"sha256\"");
  }
  entry.size = optionalByteCount(value, "size", where, source);
  entry.installedSize = optionalByteCount(value, "installedSize", where, source);
  if (const auto model = value.find("model"); model != value.end()) {
    if (!model->is_object()) fail(source, where + "\"model\" must be an object");
    const ModelParts defaults;
    entry.model.acoustic = modelPart(*model, "acoustic", defaults.acoustic, where, source);
    entry.model.language = modelPart(*model, "language", defaults.language, where, source);
    entry.model.dictionary = modelPart(*model, "dictionary", defaults.dictionary, where, source);
  }
  return entry;
}

// The keys of the top-level "locales" object in file order. A repeated "locales" replaces the
// earlier one, as in the parsed document.
std::optional<std::vector<std::string>> localeKeysInOrder(const std::string& json) {
  const auto keys = writtenKeys(json);
  if (!keys) return std::nullopt;
  std::vector<std::string> localeKeys;
  bool inLocales = false;
  for (const auto& [depth, key] : *keys) {
    if (depth == 1) {
      inLocales = key == "locales";
      if (inLocales) localeKeys.clear();
    } else if (depth == 2 && inLocales) {
      localeKeys.push_back(key);
    }
  }
  return localeKeys;
}

}  // namespace

AssetCatalog AssetCatalog::parse(const std::string& json, const std::string& source) {
  Json document;
  try {
    document = Json::parse(json);
  } catch (const Json::exception& error) {  // parse errors, and numbers out of range (1e999)
    fail(source, std::string("not valid JSON (") + error.what() + ")");
  }
  if (!document.is_object()) fail(source, "the top level must be an object");
  const auto locales = document.find("locales");
  if (locales == document.end()) fail(source, "it has no \"locales\" object");
  if (!locales->is_object()) fail(source, "\"locales\" must be an object");

  const auto keys = localeKeysInOrder(json);
  if (!keys) fail(source, "not valid JSON");  // parsed above
  const std::vector<std::string>& localeKeys = *keys;

  AssetCatalog catalog;
  catalog.entries_.reserve(localeKeys.size());
  std::unordered_map<std::string, const std::string*> keyOf;  // identifier -> key as written
  for (const std::string& key : localeKeys) {
    CatalogEntry entry = parseEntry(key, locales->at(key), source);
    const auto [earlier, first] = keyOf.emplace(entry.identifier, &key);
    if (!first) {
      fail(source, "the keys \"" + shown(*earlier->second) + "\" and \"" + shown(key) +
                       "\" both name the locale " + entry.identifier);
    }
    catalog.add(std::move(entry));
  }
  return catalog;
}

AssetCatalog AssetCatalog::builtIn() {
  AssetCatalog catalog;
  CatalogEntry entry;
  entry.identifier = "en_US";
  entry.system = kSystemModelDirectory;
  catalog.add(std::move(entry));
  return catalog;
}

void AssetCatalog::add(CatalogEntry entry) {
  indexByIdentifier_.emplace(entry.identifier, entries_.size());
  entries_.push_back(std::move(entry));
}

AssetCatalog AssetCatalog::load(const std::optional<std::string>& file) {
  if (!file) return builtIn();
  const std::string& path = *file;

  // Without waiting for a writer: a FIFO or a device is refused, never read.
  const RegularFile opened = RegularFile::open(path.c_str());
  switch (opened.refusal()) {
    case RegularFile::Refusal::cannotOpen:
      unreadable(path, opened.error());
    case RegularFile::Refusal::directory:
      unreadable(path, EISDIR);
    case RegularFile::Refusal::notRegular:
      fail(path, "it is not a regular file");
    case RegularFile::Refusal::none:
      break;
  }
  const auto tooLarge = [&] {
    fail(path, "it is larger than the " + std::to_string(kMaximumFileSize >> 20) +
                   " MiB a catalog may hold");
  };
  if (opened.size() > kMaximumFileSize) tooLarge();
  std::string text;
  if (const int error = opened.readAll(text, kMaximumFileSize); error != 0) {
    unreadable(path, error);
  }
  if (text.size() > kMaximumFileSize) tooLarge();  // it grew while being read
  return parse(text, path);
}

const CatalogEntry* AssetCatalog::find(const std::string& identifier) const {
  const auto found = indexByIdentifier_.find(identifier);
  return found == indexByIdentifier_.end() ? nullptr : &entries_[found->second];
}

}  // namespace ondevice::platform
