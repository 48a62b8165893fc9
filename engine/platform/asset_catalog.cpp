#include "engine/platform/asset_catalog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>

#include "base/system_error.h"
#include "base/unique_fd.h"
#include "engine/platform/platform_error.h"

namespace ondevice::platform {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kSystemModelDirectory = "/usr/share/pocketsphinx/model/en-us";

[[noreturn]] void fail(const std::string& source, const std::string& what) {
  throw PlatformError("Asset catalog " + source + " is not usable: " + what);
}

// Identifiers become file names in the store, so they are kept to letters, digits, '_' and '-'.
bool isSafeIdentifier(const std::string& identifier) {
  if (identifier.empty()) return false;
  for (const char c : identifier) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

// Model part names are relative to the installed directory and must stay inside it.
bool isSafeRelativePath(const std::string& path) {
  if (path.empty() || path.front() == '/') return false;
  std::istringstream parts(path);
  std::string part;
  while (std::getline(parts, part, '/')) {
    if (part == "..") return false;
  }
  return true;
}

bool isLowerHex64(std::string& text) {
  if (text.size() != 64) return false;
  for (char& c : text) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::string optionalString(const Json& object, const char* key, const std::string& where,
                           const std::string& source, bool& present) {
  present = false;
  const auto it = object.find(key);
  if (it == object.end()) return {};
  if (!it->is_string()) fail(source, where + "\"" + key + "\" must be a string");
  present = true;
  return it->get<std::string>();
}

std::string modelPart(const Json& model, const char* key, const std::string& fallback,
                      const std::string& where, const std::string& source) {
  bool present = false;
  std::string value = optionalString(model, key, where + "model ", source, present);
  if (!present) return fallback;
  if (!isSafeRelativePath(value)) {
    fail(source, where + "model \"" + key + "\" must be a path inside the model directory");
  }
  return value;
}

CatalogEntry parseEntry(const std::string& identifier, const Json& value,
                        const std::string& source) {
  const std::string where = "locale \"" + identifier + "\": ";
  if (!isSafeIdentifier(identifier)) {
    fail(source, where + "identifiers hold only letters, digits, '_' and '-'");
  }
  if (!value.is_object()) fail(source, where + "the entry must be an object");

  CatalogEntry entry;
  entry.identifier = identifier;
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
  if (const auto size = value.find("size"); size != value.end()) {
    if (!size->is_number_unsigned()) {
      fail(source, where + "\"size\" must be a non-negative whole number of bytes");
    }
    entry.size = size->get<std::uint64_t>();
  }
  if (const auto model = value.find("model"); model != value.end()) {
    if (!model->is_object()) fail(source, where + "\"model\" must be an object");
    const ModelParts defaults;
    entry.model.acoustic = modelPart(*model, "acoustic", defaults.acoustic, where, source);
    entry.model.language = modelPart(*model, "language", defaults.language, where, source);
    entry.model.dictionary = modelPart(*model, "dictionary", defaults.dictionary, where, source);
  }
  return entry;
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

  AssetCatalog catalog;
  for (const auto& [identifier, value] : locales->items()) {
    catalog.entries_.push_back(parseEntry(identifier, value, source));
  }
  return catalog;
}

AssetCatalog AssetCatalog::builtIn() {
  AssetCatalog catalog;
  CatalogEntry entry;
  entry.identifier = "en_US";
  entry.system = kSystemModelDirectory;
  catalog.entries_.push_back(std::move(entry));
  return catalog;
}

AssetCatalog AssetCatalog::load() {
  const char* path = std::getenv("ONDEVICE_STT_CATALOG");
  if (path == nullptr || *path == '\0') return builtIn();

  const auto unreadable = [&](int error) {
    fail(path, "cannot be read (" + errnoText(error) + ")");
  };
  // Without waiting for a writer: a FIFO or a device is refused below, never read.
  const UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) unreadable(errno);
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) unreadable(errno);
  if (S_ISDIR(status.st_mode)) unreadable(EISDIR);
  if (!S_ISREG(status.st_mode)) fail(path, "it is not a regular file");
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      unreadable(errno);
    }
  }
  return parse(text, path);
}

const CatalogEntry* AssetCatalog::find(const std::string& identifier) const {
  for (const auto& entry : entries_) {
    if (entry.identifier == identifier) return &entry;
  }
  return nullptr;
}

}  // namespace ondevice::platform
