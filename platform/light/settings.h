#pragma once
// The speech platform's configuration, kept the way a system speech service keeps its settings:
// read from the environment once, when the platform first needs it, and passed down from there.
// No other code reads these variables.
//
//   ONDEVICE_STT_CATALOG   a catalog file that replaces the built-in catalog (empty: unset)
//   ONDEVICE_STT_ASSETS    the asset store (empty: unset); else $XDG_DATA_HOME/ondevice-stt/assets
//                          for an absolute XDG_DATA_HOME, else $HOME/.local/share/ondevice-stt/
//                          assets for an absolute HOME, else the same under the account's home
//                          directory. The store is created when a model is installed, but not a
//                          home directory that does not exist.
//   ONDEVICE_STT_THREADS   decoder threads, 1 to kMostDecoderThreads; any other value is ignored
//   XDG_RUNTIME_DIR        where the warm service listens: <it>/ondevice-stt/socket (absolute
//                          only; without it there is no service)
//   ONDEVICE_STT_SERVICE   "off": transcriptions never try the service
//
//   const PlatformSettings settings = PlatformSettings::fromEnvironment();
//   AssetCatalog catalog = AssetCatalog::load(settings.catalogFile);
//   AssetStore store(settings.storeRoot());   // throws when no location could be derived

#include <exception>
#include <filesystem>
#include <optional>
#include <string>

namespace ondevice::platform {

class PlatformSettings {
 public:
  static PlatformSettings fromEnvironment();

  std::optional<std::string> catalogFile;                 // none: the built-in catalog
  std::optional<unsigned> decoderThreads;                 // none: as many as the machine allows
  std::optional<std::filesystem::path> serviceDirectory;  // none: no service
  bool useService = true;  // whether a transcription tries the service

  // The asset store's root, an absolute path. Throws PlatformError "Cannot locate the asset
  // store: ..." when no location could be derived: that is only a failure for a command that
  // needs the store.
  const std::filesystem::path& storeRoot() const;
  // Before the store is created: throws PlatformError "Cannot create the asset store ROOT: the
  // home directory HOME does not exist" when the store lies in a home directory that does not
  // exist (a home is the account's to make, not the tool's).
  void requireStoreHome() const;

 private:
  std::filesystem::path storeRoot_;
  std::optional<std::filesystem::path> storeHome_;
  std::exception_ptr storeRootFailure_;
};

}  // namespace ondevice::platform
