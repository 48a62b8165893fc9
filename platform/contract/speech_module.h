#pragma once
// The heavy half of the platform: audio decoding (FFmpeg), recognition (PocketSphinx), download
// (libcurl, OpenSSL) and extraction (libarchive). It is built as a shared module installed beside
// the binary and opened on first use (platform/light/speech_module_loader.h), so that
// commands which need none of it never pay for loading those libraries.
//
//   SpeechModule& module = loadSpeechModule();   // dlopen on first call; throws PlatformError
//   auto file = module.openAudioFile("talk.m4a");

#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/api/speech_platform.h"
#include "platform/api/speech_service.h"
#include "platform/contract/model_parts.h"

namespace ondevice::platform {

// Notes what the calling thread is doing, for the one record a run must still make should that
// thread end the process (output/run_end.h's noteActivity); null clears the note. The text is
// not copied. Async-signal-safe, never throws.
using ActivityNote = void (*)(const char* description) noexcept;

// What recogniser threads note. The recogniser may end the process itself (PocketSphinx calls
// exit() when a model file is malformed, and a damaged model can make it fault); the note of the
// thread that ended it says what went wrong. The binary hands the module its note function (the
// module links nothing of the binary) and the texts, written for the run's locale.
struct RecogniserNotes {
  ActivityNote note = nullptr;  // none: nothing is noted
  std::string loadingModel;     // noted by a decoder thread while it loads the model
  std::string decoding;         // noted by a decoder thread while it decodes
};

// The most decoder threads a run may ask for.
inline constexpr unsigned kMostDecoderThreads = 64;

// The model an analyzer is to use (the files, or why there are none), and how many decoders to
// load it into.
struct AnalyzerModel {
  AnalyzerModel() = default;
  explicit AnalyzerModel(ModelFiles files) : files(std::move(files)) {}
  explicit AnalyzerModel(std::exception_ptr unavailable) : unavailable(std::move(unavailable)) {}

  std::optional<ModelFiles> files;
  std::exception_ptr unavailable;  // when files is empty: the failure the analysis throws
  // The model as errors name it: "Cannot load the speech model for en_US: ...".
  std::string name = "the speech model";
  // 1 to kMostDecoderThreads; none for the machine's hardware threads. The memory budget may
  // allow fewer either way.
  std::optional<unsigned> requestedThreads;
  RecogniserNotes notes;
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

// A model the service loads at its start.
struct ServiceModel {
  std::string locale;
  ModelFiles files;
};

// Everything the service needs to run (platform/module/service/speech_service.h).
struct ServiceJob {
  std::filesystem::path directory;  // $XDG_RUNTIME_DIR/ondevice-stt
  std::string build;                // the module's soname, which clients must match
  std::vector<ServiceModel> preload;
  std::chrono::seconds idleExit{600};
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
  // Runs the warm service until it is stopped; throws PlatformError when it cannot start.
  virtual ServiceSummary serve(const ServiceJob& job) = 0;
};

}  // namespace ondevice::platform

// The module's one exported symbol: its single instance. The binary checks the module's version
// (its soname, set by the build from this contract) before it loads the module.
extern "C" ondevice::platform::SpeechModule* ondevice_stt_speech_module();
