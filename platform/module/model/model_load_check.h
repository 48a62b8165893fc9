#pragma once
// Whether the speech recogniser can load a model, asked in a process of its own: PocketSphinx
// ends the whole process with exit() on some malformed models (an acoustic model whose mdef
// holds text, for one), so a model is loaded once in a child before it is ever installed. The
// child may take kModelMemoryBytes of address space beyond what it starts with: a model whose
// header claims more than that (a language model claiming 500 million unigrams asked for 3.8 GB)
// is refused when the allocation fails, not after it was made. The cheap look of
// model_file_check.h comes first, in this process.
//
//   const ModelLoadVerdict verdict = checkModelLoads(files, std::chrono::minutes(2));
//   if (verdict.outcome != ModelLoadVerdict::Outcome::loaded) ...   // refuse the model

#include <chrono>
#include <string>

#include "platform/contract/model_parts.h"

namespace ondevice::platform {

// What loading one model may take. The en-us model loads within 128 MiB of address space (not
// within 96), its decoder holding about 100 MB; and a run's decoders together never take more
// than 1 GiB (analyzer.cpp), so a model one decoder of which needs more could never be used.
inline constexpr unsigned long long kModelMemoryBytes = 1ull << 30;

struct ModelLoadVerdict {
  enum class Outcome {
    loaded,
    refused,      // the model is unfit, or the recogniser gave no decoder, or ran out of the
                  // memory bound, or the loading process died (see why)
    timedOut,     // no answer within the time limit; the loading process was killed
    couldNotRun,  // the loading process could not set itself up
  };
  Outcome outcome = Outcome::loaded;
  // For refused: "en-us/mdef is not a regular file", "it needs more than 1024 MiB of memory",
  // "the loading process ended by signal 11", or empty.
  std::string why;
};

// Forks, loads the model in the child with the settings transcriptions use, and waits at most
// `timeLimit` for the answer (the child is killed after that, and whenever the wait fails).
// Throws PlatformError when no child can be started or waited for. The child carries only the
// calling thread, so call this while the process runs no other (an install runs before any
// analyzer exists).
ModelLoadVerdict checkModelLoads(const ModelFiles& model, std::chrono::milliseconds timeLimit);

}  // namespace ondevice::platform
