#pragma once
// The tool's own failures. Each case has a fixed message; five carry a text that follows the
// message verbatim.
//
//   throw HelperError(HelperError::Case::missingArgument, "file");
//   // "Missing required argument: file"

#include <exception>
#include <string>
#include <utility>

namespace ondevice {

class HelperError : public std::exception {
 public:
  enum class Case {
    missingArgument,
    unsupportedCommand,
    unsupportedLocale,
    invalidAudio,
    assetUnsupported,
    unsupportedPlatform,
    unknownAssetStatus,
  };

  // For the cases that carry a payload.
  HelperError(Case errorCase, std::string payload)
      : case_(errorCase), payload_(std::move(payload)), message_(messageFor(case_, payload_)) {}
  // For the two cases without one.
  explicit HelperError(Case errorCase) : HelperError(errorCase, std::string()) {}

  Case errorCase() const { return case_; }
  const std::string& payload() const { return payload_; }
  const std::string& errorDescription() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

  friend bool operator==(const HelperError& a, const HelperError& b) {
    return a.case_ == b.case_ && a.payload_ == b.payload_;
  }

 private:
  static std::string messageFor(Case errorCase, const std::string& payload) {
    switch (errorCase) {
      case Case::missingArgument:
        return "Missing required argument: " + payload;
      case Case::unsupportedCommand:
        return "Unsupported command: " + payload;
      case Case::unsupportedLocale:
        return "Locale not supported: " + payload;
      case Case::invalidAudio:
        return "Invalid audio file: " + payload;
      case Case::assetUnsupported:
        return "Assets not supported for locale: " + payload;
      case Case::unsupportedPlatform:
        return "Apple SpeechAnalyzer requires macOS 26.0 or newer.";
      case Case::unknownAssetStatus:
        return "Unknown asset inventory status.";
    }
    return "Unknown error.";
  }

  Case case_;
  std::string payload_;
  std::string message_;
};

}  // namespace ondevice
