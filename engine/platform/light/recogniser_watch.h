#pragma once
// What the recogniser was doing when it ended the process itself, for the one record a run
// must still make: PocketSphinx calls exit() from the decoder thread that fails to load a
// malformed model, and a damaged model can make it fault. Decoder threads note their stage
// here; the exit guard asks, from the thread that is ending the process, what to report.
//
//   watchRecognition("en_US");                    // before the decoder threads start
//   model.noteStage = &noteRecogniserStage;       // handed to the speech module
//   ...
//   recogniserStopDescription();   // on that thread: "... the speech model for en_US could not
//                                  // be loaded."
//
// The speech module links its own copy of the platform library, so it must reach these only
// through the function pointer it is handed.

#include <string>

#include "engine/platform/speech_module.h"

namespace ondevice::platform {

// Prepares the descriptions for a run that recognises with the model of `localeIdentifier`.
void watchRecognition(const std::string& localeIdentifier);

// Notes the calling thread's stage.
void noteRecogniserStage(RecogniserStage stage) noexcept;

// Why the calling thread ended the run, when it is a recogniser thread at work; null otherwise.
// Async-signal-safe.
const char* recogniserStopDescription() noexcept;

}  // namespace ondevice::platform
