#pragma once
// Whether the speech recogniser can load a model, asked in a process of its own: PocketSphinx
// ends the whole process with exit() on some malformed models (an acoustic model whose mdef
// holds text, for one), so a model is loaded once in a child before it is ever installed.
//
//   const ModelLoadVerdict verdict = checkModelLoads(files, std::chrono::minutes(2));
//   if (verdict.outcome != ModelLoadVerdict::Outcome::loaded) ...   // refuse the model

#include <chrono>
#include <string>

#include "engine/platform/model_parts.h"

namespace ondevice::platform {

struct ModelLoadVerdict {
  enum class Outcome {
    loaded,
    refused,      // the recogniser gave no decoder, or the loading process died (see why)
    timedOut,     // no answer within the time limit; the loading process was killed
    couldNotRun,  // the loading process could not set itself up
  };
  Outcome outcome = Outcome::loaded;
  std::string why;  // for refused: "the loading process ended by signal 11", or empty
};

// Forks, loads the model in the child with the settings transcriptions use, and waits at most
// `timeLimit` for the answer (the child is killed after that, and whenever the wait fails).
// Throws PlatformError when no child can be started or waited for. The child carries only the
// calling thread, so call this while the process runs no other (an install runs before any
// analyzer exists).
ModelLoadVerdict checkModelLoads(const ModelFiles& model, std::chrono::milliseconds timeLimit);

}  // namespace ondevice::platform
