#pragma once
// run: carries out one parsed command against the speech platform and writes its record to
// standard output. Failures are thrown to the entry point, which alone writes errors.

#include "cli/arguments.h"
#include "platform/api/speech_platform.h"
#include "platform/api/speech_service.h"

namespace ondevice {

void run(const ParsedArguments& arguments, platform::SpeechPlatform& platform,
         platform::SpeechService& service);

}  // namespace ondevice
