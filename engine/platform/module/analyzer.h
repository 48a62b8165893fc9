#pragma once
// The recognition analyzer: streams the file's audio, cuts it into utterances at silences,
// decodes them with PocketSphinx on worker threads and delivers one final result per utterance
// that holds words, in time order, into the transcriber's results.
//
//   auto analyzer = makeRecognitionAnalyzer(transcriber, model);
//   if (auto last = analyzer->analyzeSequence(file)) analyzer->finalizeAndFinish(*last);
//   else analyzer->cancelAndFinishNow();
//
// The output does not depend on the number of threads: the cuts depend on the audio alone and
// every utterance is decoded on its own.

#include <memory>

#include "engine/platform/speech_module.h"

namespace ondevice::platform {

// Decoders used when the caller does not say: ONDEVICE_STT_THREADS when it holds a number from
// 1 to 64, else the hardware threads, as far as the memory budget allows.
unsigned defaultRecognitionThreads();

// `threads` 0 means defaultRecognitionThreads().
std::unique_ptr<SpeechAnalyzer> makeRecognitionAnalyzer(SpeechTranscriberRef transcriber,
                                                        AnalyzerModel model, unsigned threads = 0);

}  // namespace ondevice::platform
