#pragma once
// Loads the decoders of a run: from the model's derived form when a complete one made from the
// model's files is kept (derived_model.h), else from the model's own files, after which the
// first decoder so loaded makes the derived form for the runs that follow (when the store can
// be written). A derived form that fails to load is passed over for the model's own files.
//
//   ModelLoader loader(files, layout.derived());   // looks for the derived form once
//   std::unique_ptr<PocketSphinxDecoder> decoder = loader.load();   // on any thread
//
// Thread-safe.

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>

#include "engine/platform/model_parts.h"
#include "engine/platform/module/recognition/derived_model.h"
#include "engine/platform/module/recognition/pocketsphinx_decoder.h"

namespace ondevice::platform {

class ModelLoader {
 public:
  // `derivedDirectory`: where the model's derived form is kept; none for nowhere.
  ModelLoader(ModelFiles files, std::optional<std::filesystem::path> derivedDirectory);

  // Throws PlatformError when the model cannot be loaded.
  std::unique_ptr<PocketSphinxDecoder> load();

  // Whether decoders load from the derived form.
  bool usesDerivedForm() const { return kept_.has_value(); }

 private:
  void keepDerivedForm(const PocketSphinxDecoder& decoder);

  const ModelFiles files_;
  const std::optional<DerivedModel> derived_;
  const std::optional<ModelFiles> kept_;
  std::atomic<bool> derivedFormClaimed_{false};
};

}  // namespace ondevice::platform
