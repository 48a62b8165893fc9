#pragma once
// A model looked over before the recogniser loads it, at the cost of a few stats and one read of
// the language model's first kilobytes, so that it can run before every load:
//
// - every file the recogniser opens must be a regular file: PocketSphinx opens the files of the
//   acoustic model directory it knows by name whenever they exist, and waits forever on a FIFO
//   or reads a link to /dev/zero without end;
// - the language model's header must not claim more n-grams than its file can hold
//   (language_model_claims.h): the recogniser would size its tables from the claim first.
//
//   if (const auto fault = modelFileFault(files)) refuse("... cannot be loaded: " + *fault);
//
// Files are named as they lie in the model directory ("en-us/mdef", "en-us.lm.bin").

#include <optional>
#include <string>

#include "platform/contract/model_parts.h"

namespace ondevice::platform {

// Why the recogniser must not load `model`; none when nothing cheap to see is wrong with it.
// Never throws but for memory.
std::optional<std::string> modelFileFault(const ModelFiles& model);

}  // namespace ondevice::platform
