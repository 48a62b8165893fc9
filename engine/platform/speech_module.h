#pragma once
// The heavy half of the platform: audio decoding (FFmpeg), recognition (PocketSphinx), download
// (libcurl, OpenSSL) and extraction (libarchive). It is built as a shared module installed beside
// the binary and opened on first use (engine/platform/light/speech_module_loader.h), so that
// commands which need none of it never pay for loading those libraries.
//
//   SpeechModule& module = loadSpeechModule();   // dlopen on first call; throws PlatformError
//   auto file = module.openAudioFile("talk.m4a");

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/platform/model_parts.h"
#include "engine/platform/speech_platform.h"

namespace ondevice::platform {

// What a recogniser thread is doing. The recogniser may end the process itself (PocketSphinx
// calls exit() when a model file is malformed, and a damaged model can make it fault); the stage
// of the thread that ended it says what went wrong.
enum class RecogniserStage : unsigned char { none, loadingModel, decoding };
// Notes the calling thread's stage; async-signal-safe to read back, never throws.
using RecogniserStageNote = void (*)(RecogniserStage) noexcept;

// The model an analyzer is to use: the files, or why there are none.
struct AnalyzerModel {
  std::optional<ModelFiles> files;
  std::string unavailableReason;  // set when files is empty
  // Where decoder threads note their stage; none to note nothing. The binary hands the module a
  // function of its own: the module's copy of the platform library has state of its own.
  RecogniserStageNote noteStage = nullptr;
};

// Everything needed to download and install one locale's assets into the store.
struct AssetInstallJob {
  std::string localeIdentifier;
  std::string archiveURL;
  std::string sha256;
  std::optional<std::uint64_t> size;
  std::optional<std::uint64_t> installedSize;  // the extracted model's cap in bytes, if known
  std::string storeDirectory;  // the store's root; the job owns the locale's entries inside it
  ModelParts model;
};

class SpeechModule {
 public:
  virtual ~SpeechModule() = default;
  // Throws UndecodableAudioError when the file is not a readable regular file or FFmpeg finds no
  // decodable audio in it; PlatformError for any other failure.
  virtual std::unique_ptr<AudioFile> openAudioFile(const std::string& path) = 0;
  // An analyzer driving `transcriber`; failures surface from analyzeSequence.
  virtual std::unique_ptr<SpeechAnalyzer> makeAnalyzer(SpeechTranscriberRef transcriber,
                                                       AnalyzerModel model) = 0;
  // Takes the locale's lock, downloads, verifies, extracts and installs; throws PlatformError.
  virtual void installAssets(const AssetInstallJob& job) = 0;
};

}  // namespace ondevice::platform

// The module's one exported symbol: its single instance.
extern "C" ondevice::platform::SpeechModule* ondevice_stt_speech_module();
