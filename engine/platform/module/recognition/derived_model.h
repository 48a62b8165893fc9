#pragma once
// The model's derived form: its dictionary cut down to the words its language model holds (with
// every pronunciation of them, in the dictionary's order). The search never enters a word the
// language model lacks, so the recogniser decodes the same words with it, and loads faster: the
// en-us dictionary keeps 79 420 of its 134 723 entries.
//
// It is kept in the asset store (AssetStoreLayout::derived()), one file per model, named after
// the identity of the files it was made from (the paths, sizes and modification times of the
// dictionary and the language model) and holding that identity in its first lines. It is
// written to a temporary file, synced and renamed into place, and ends with a line that gives
// its length: a file made from other files, or not complete, is never used. It is never
// required either: without it the model loads from its own files.
//
//   DerivedModel derived(files, layout.derived());
//   ModelFiles loadable = derived.find().value_or(files);
//   ...  // once a decoder has loaded the model from its own files:
//   derived.write(restrictDictionary(dictionaryText, [&](auto word) { return decoder.knows(word); }));

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "engine/platform/model_parts.h"

namespace ondevice::platform {

class DerivedModel {
 public:
  // `directory` is where derived forms are kept; nothing is read or written yet.
  DerivedModel(ModelFiles source, std::filesystem::path directory);

  const ModelFiles& source() const { return source_; }

  // The model with its derived dictionary, when a complete one made from the source's files as
  // they are now is kept. Never throws.
  std::optional<ModelFiles> find() const;

  // Keeps `dictionary` (restrictDictionary's output) as the derived dictionary of the source,
  // and removes every other file of the directory (forms of files that changed, temporary files
  // of interrupted writes). Nothing is written, and false returned, when the directory cannot be
  // made or written (a read-only store), while another process writes there, or when the source
  // files cannot be identified. Never throws.
  bool write(std::string_view dictionary) const;

 private:
  std::optional<std::string> header() const;

  ModelFiles source_;
  std::filesystem::path directory_;
};

// The entries of a dictionary in PocketSphinx's format ("word ph ph ...", "word(2) ph ...") whose
// word, without its variant suffix, `known` accepts, in their order; comment and empty lines
// go. Each kept line ends with a line feed.
std::string restrictDictionary(std::string_view dictionary,
                               const std::function<bool(const std::string&)>& known);

}  // namespace ondevice::platform
