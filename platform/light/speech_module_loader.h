#pragma once
// Finding and opening the speech module (platform/contract/speech_module.h), installed as
// ondevice-stt-speech.so in a folder of its own, found relative to the binary's folder
// (lib/ondevice-stt/ beside bin/, lib/<multiarch>/ondevice-stt/ under /usr).
//
//   if (speechModuleLooksLoadable()) ...               // a few small reads, never a dlopen
//   SpeechModule& module = loadSpeechModule();         // dlopen on first call

#include "platform/contract/speech_module.h"

namespace ondevice::platform {

// Loads the module of the running binary once per process; throws PlatformError "The speech
// module could not be loaded: ..." when it is missing or damaged, or was built for another
// version of the binary (its soname carries the version of the contract, contract/).
SpeechModule& loadSpeechModule();
// Whether the binary's module looks loadable: an ELF shared object of this machine's
// kind, not cut short, of this binary's version, whose libraries the dynamic loader would find
// (library_search.h). Reads
// its headers and looks for its libraries, never loads anything, so that answering stays cheap;
// loadSpeechModule() makes the same check before dlopen, which would fault on a cut file, and
// names what is wrong.
bool speechModuleLooksLoadable();
// The build the binary expects of its module (the module's soname), which a service must be of.
const char* speechModuleBuild();

}  // namespace ondevice::platform
