#pragma once
// The recognition analyzer: cuts the audio into utterances and decodes them with PocketSphinx.

#include <memory>

#include "engine/platform/speech_module.h"

namespace ondevice::platform {

std::unique_ptr<SpeechAnalyzer> makeRecognitionAnalyzer(SpeechTranscriberRef transcriber,
                                                        AnalyzerModel model);

}  // namespace ondevice::platform
