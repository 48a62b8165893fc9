#pragma once
// The recognition analyzer: streams the file's audio, cuts it into utterances at silences,
// decodes them with PocketSphinx on worker threads and delivers one final result per utterance
// that holds words, in time order, into the transcriber's results. The pipeline's stages, in
// order (files under platform/module/ unless said otherwise):
//
//   audio input          audio/audio_input.h          the file opened once, without waiting,
//                                                     checked and read through its descriptor
//   demuxer              audio/audio_demuxer.h        the audio stream's packets (FFmpeg)
//   decoder              audio/audio_decoder.h        packets into frames
//   converter            audio/audio_converter.h      frames into 16 kHz mono samples
//                        (audio/audio_file.h ties these four into the AudioFile read here)
//   noise gate           audio/noise_gate.h           noisy stretches through the noise
//                                                     suppressor (audio/noise_suppressor.h)
//   voice activity       audio/voice_activity_detector.h  utterances cut at pauses
//   VTLN probe           decoding/vtln_probe.h        the frequency warp, chosen on the first
//                                                     utterances
//   decoder pool         decoding/decoder_pool.h      utterances decoded on worker threads, a
//                                                     decoder each
//                                                     (decoding/pocketsphinx_decoder.h, or a
//                                                     service's warm ones)
//   ordered delivery     decoding/ordered_delivery.h  results handed out in submission order
//   speaker adaptation   adaptation/speaker_adaptation.h  where the first decoding fits the
//                                                     audio poorly, a second with the model's
//                                                     means moved towards the recording
//   text stage           analysis/text_stage.h        English with punctuation and truecasing
//                                                     (text/readable_text.h)
//   results sequence     platform/api/results_sequence.h  read by the engine's collector
//
//   auto analyzer = makeRecognitionAnalyzer(transcriber, model);
//   if (auto last = analyzer->analyzeSequence(file)) analyzer->finalizeAndFinish(*last);
//   else analyzer->cancelAndFinishNow();
//
// The output does not depend on the number of threads: the cuts depend on the audio alone, the
// warp on the first utterances alone, every utterance is decoded on its own, the adaptation is
// learnt from the first decodings in time order, and the text stage reads the results in time
// order.

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/contract/speech_module.h"
#include "platform/module/decoding/utterance_decoder.h"

namespace ondevice::platform {

// The decoders of a run: the number `requested`, else one per hardware thread, and either way
// no more than the memory budget holds (110 MB per decoder, all together at most a quarter of
// `memory` and 1 GiB), and at least one. A request cannot buy more memory than the default
// would take.
unsigned recognitionThreads(std::optional<unsigned> requested, unsigned hardwareThreads,
                            uint64_t memory);

// `threads` 0 means recognitionThreads() of the model's requested threads, this machine's
// hardware threads and the memory the process may keep resident (base/memory_limits.h: the
// machine's, or its cgroup's where that is less). Address-space limits are met decoder by
// decoder as the pool makes them (FreshDecoders).
std::unique_ptr<SpeechAnalyzer> makeRecognitionAnalyzer(SpeechTranscriberRef transcriber,
                                                        AnalyzerModel model, unsigned threads = 0);
// The same with decoders from `decoders` (a service's warm ones) instead of new ones of the
// model's files, which are still checked before the analysis.
std::unique_ptr<SpeechAnalyzer> makeRecognitionAnalyzer(SpeechTranscriberRef transcriber,
                                                        AnalyzerModel model,
                                                        std::shared_ptr<DecoderSource> decoders,
                                                        unsigned threads);

}  // namespace ondevice::platform
