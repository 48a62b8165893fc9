#pragma once
// A speech model's three parts: their names inside the directory the model is installed in (as
// the catalog gives them), and the absolute paths the recogniser loads them from. The status
// check, the installer and the recogniser all ask through these, so that they agree on what a
// model is.
//
//   ModelParts parts;                              // en-us/, en-us.lm.bin, cmudict-en-us.dict
//   if (holdsModelParts(directory, parts)) {
//     ModelFiles files = modelFilesIn(directory, parts);   // /.../en-us, /.../en-us.lm.bin, ...
//   }

#include <filesystem>
#include <string>
#include <system_error>

namespace ondevice::platform {

// Names of the model's parts, relative to the directory the model is installed in.
struct ModelParts {
  std::string acoustic = "en-us";  // a directory
  std::string language = "en-us.lm.bin";
  std::string dictionary = "cmudict-en-us.dict";
};

// Absolute paths of an installed model's three parts.
struct ModelFiles {
  std::string acousticModel;  // directory
  std::string languageModel;
  std::string dictionary;
};

// The files of an acoustic model directory that PocketSphinx opens when they exist.
inline constexpr const char* kAcousticModelFiles[] = {
    "mdef",    "means",     "variances",         "transition_matrices", "mixture_weights",
    "sendump", "noisedict", "feature_transform", "feat.params",         "senmgau",
};

// Whether `directory` holds the model's three parts: the acoustic model directory and the
// language model and dictionary files. Never throws.
inline bool holdsModelParts(const std::filesystem::path& directory, const ModelParts& parts) {
  std::error_code error;
  return std::filesystem::is_directory(directory / parts.acoustic, error) &&
         std::filesystem::is_regular_file(directory / parts.language, error) &&
         std::filesystem::is_regular_file(directory / parts.dictionary, error);
}

// The parts inside `directory`, as absolute and lexically normal paths. Throws
// std::filesystem::filesystem_error only when `directory` is relative and the working directory
// cannot be read.
inline ModelFiles modelFilesIn(const std::filesystem::path& directory, const ModelParts& parts) {
  const std::filesystem::path base = std::filesystem::absolute(directory).lexically_normal();
  return ModelFiles{(base / parts.acoustic).string(), (base / parts.language).string(),
                    (base / parts.dictionary).string()};
}

}  // namespace ondevice::platform
