#pragma once
// Whether the speech recogniser can load a model, asked in a process of its own: PocketSphinx
// ends the whole process with exit() on some malformed models (an acoustic model whose mdef
// holds text, for one), so a model is loaded once in a child before it is ever installed.
//
//   requireLoadableModel(files, std::chrono::seconds(120), "The archive of the assets for en_US");

#include <chrono>
#include <string>

#include "engine/platform/speech_module.h"

namespace ondevice::platform {

// Forks, loads the model in the child with the settings transcriptions use, and waits at most
// `timeLimit` for the answer (the child is killed after that). Throws ArchiveFault "<label> is
// refused: the speech recogniser cannot load its model[ (why)]" and PlatformError when no child
// can be started. The child carries only the calling thread, so call this while the process
// runs no other (an install runs before any analyzer exists).
void requireLoadableModel(const ModelFiles& model, std::chrono::milliseconds timeLimit,
                          const std::string& label);

}  // namespace ondevice::platform
