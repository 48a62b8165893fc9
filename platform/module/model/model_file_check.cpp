#include "platform/module/model/model_file_check.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>

#include "base/regular_file.h"
#include "base/system_error.h"
#include "platform/module/model/language_model_claims.h"

namespace ondevice::platform {
namespace {

namespace fs = std::filesystem;

std::string notRegular(const std::string& name) { return name + " is not a regular file"; }

// A file that must be there: a regular file, whatever a link to it leads to.
std::optional<std::string> requiredFileFault(const fs::path& path, const std::string& name) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0)
    return describeSystemError(name + " cannot be read", errno);
  if (!S_ISREG(status.st_mode)) return notRegular(name);
  return std::nullopt;
}

std::optional<std::string> acousticFault(const fs::path& directory) {
  const std::string directoryName = directory.filename().string();
  struct stat status {};
  if (::stat(directory.c_str(), &status) != 0) {
    return describeSystemError(directoryName + " cannot be read", errno);
  }
  if (!S_ISDIR(status.st_mode)) return directoryName + " is not a directory";
  for (const char* file : kAcousticModelFiles) {
    // Absent is fine (the recogniser does without, or says what it misses); anything else
    // there must be a regular file.
    if (::stat((directory / file).c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
      return notRegular(directoryName + "/" + file);
    }
  }
  return std::nullopt;
}

std::optional<std::string> languageModelFault(const fs::path& path) {
  const std::string name = path.filename().string();
  const RegularFile file = RegularFile::open(path.c_str());
  switch (file.refusal()) {
    case RegularFile::Refusal::none:
      break;
    case RegularFile::Refusal::cannotOpen:
      return describeSystemError(name + " cannot be read", file.error());
    case RegularFile::Refusal::directory:
    case RegularFile::Refusal::notRegular:
      return notRegular(name);
  }
  std::string header(kLanguageModelHeaderBytes, '\0');
  size_t got = 0;
  while (got < header.size()) {
    const ssize_t n = file.read(header.data() + got, header.size() - got);
    if (n < 0) return describeSystemError(name + " cannot be read", errno);
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  header.resize(got);
  const auto claims = readLanguageModelClaims(header);
  if (!claims) return std::nullopt;
  if (auto fault = languageModelClaimFault(*claims, file.size())) {
    return "the language model " + name + " " + *fault;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> modelFileFault(const ModelFiles& model) {
  if (auto fault = acousticFault(model.acousticModel)) return fault;
  const fs::path dictionary = model.dictionary;
  if (auto fault = requiredFileFault(dictionary, dictionary.filename().string())) return fault;
  return languageModelFault(model.languageModel);
}

}  // namespace ondevice::platform
