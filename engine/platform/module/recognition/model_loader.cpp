#include "engine/platform/module/recognition/model_loader.h"

#include <string>
#include <utility>

#include "base/regular_file.h"
#include "engine/platform/platform_error.h"

namespace ondevice::platform {
namespace {

// A dictionary larger than this is not worth deriving from in one piece.
constexpr size_t kLargestDictionary = size_t{256} << 20;

std::optional<DerivedModel> derivedModelOf(const ModelFiles& files,
                                           const std::optional<std::filesystem::path>& directory) {
  if (!directory) return std::nullopt;
  return DerivedModel(files, *directory);
}

}  // namespace

ModelLoader::ModelLoader(ModelFiles files, std::optional<std::filesystem::path> derivedDirectory)
    : files_(std::move(files)),
      derived_(derivedModelOf(files_, derivedDirectory)),
      kept_(derived_ ? derived_->find() : std::nullopt) {}

std::unique_ptr<PocketSphinxDecoder> ModelLoader::load() {
  if (kept_) {
    try {
      return std::make_unique<PocketSphinxDecoder>(*kept_);
    } catch (const PlatformError&) {
      // Not needed: the model's own files follow.
    }
  }
  auto decoder = std::make_unique<PocketSphinxDecoder>(files_);
  if (derived_ && !kept_ && !derivedFormClaimed_.exchange(true)) keepDerivedForm(*decoder);
  return decoder;
}

void ModelLoader::keepDerivedForm(const PocketSphinxDecoder& decoder) {
  const RegularFile file = RegularFile::open(files_.dictionary.c_str());
  std::string dictionary;
  if (file.refusal() != RegularFile::Refusal::none ||
      file.readAll(dictionary, kLargestDictionary) != 0 || dictionary.size() > kLargestDictionary) {
    return;
  }
  // A store that cannot be written, or another process writing, leaves it for a later run.
  derived_->write(
      restrictDictionary(dictionary, [&](const std::string& word) { return decoder.knows(word); }));
}

}  // namespace ondevice::platform
