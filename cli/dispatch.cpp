#include "cli/dispatch.h"

#include <charconv>
#include <chrono>
#include <stdexcept>

#include "engine/apple_speech_engine.h"
#include "output/helper_error.h"
#include "output/json_writer.h"

namespace ondevice {
namespace {

constexpr const char* kDefaultLanguage = "en_US";

std::string languageOf(const ParsedArguments& arguments) {
  const auto found = arguments.options.find("language");
  return found != arguments.options.end() ? found->second : kDefaultLanguage;
}

}  // namespace

// `serve`'s options: the languages whose models load at the start (--language, repeatable,
// each resolved as the commands resolve theirs), and --idle-exit SECONDS (default 600).
platform::ServiceOptions serviceOptionsOf(const ParsedArguments& arguments,
                                          platform::SpeechPlatform& platform) {
  platform::ServiceOptions options;
  if (const auto languages = arguments.repeated.find("language");
      languages != arguments.repeated.end()) {
    for (const std::string& language : languages->second) {
      options.locales.push_back(
          AppleSpeechEngine::supportedLocale(platform, language).identifier());
    }
  }
  if (const auto idle = arguments.options.find("idle-exit"); idle != arguments.options.end()) {
    const std::string& text = idle->second;
    long long seconds = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size() || seconds < 1 ||
        seconds > 366LL * 24 * 3600) {
      throw std::invalid_argument("Invalid --idle-exit: " + text +
                                  " (whole seconds, from 1 to a year)");
    }
    options.idleExit = std::chrono::seconds(seconds);
  }
  return options;
}

void run(const ParsedArguments& arguments, platform::SpeechPlatform& platform,
         platform::SpeechService& service) {
  const std::string language = languageOf(arguments);
  const std::string& command = arguments.command;

  if (command == "version") {
    writeJSON(VersionOutput("SpeechAnalyzer", "26.0"));
  } else if (command == "is-available") {
    writeJSON(AppleSpeechEngine::isAvailable(platform, language));
  } else if (command == "prepare") {
    writeJSON(AppleSpeechEngine::prepare(platform, language));
  } else if (command == "transcribe") {
    const auto file = arguments.options.find("file");
    if (file == arguments.options.end()) {
      throw HelperError(HelperError::Case::missingArgument, "file");
    }
    const bool autoPrepare = !arguments.flags.contains("no-prepare");
    const FileURL fileURL = FileURL::fileURLWithPath(file->second);
    writeJSON(AppleSpeechEngine::transcribe(platform, fileURL, language, autoPrepare));
  } else if (command == "serve") {
    const platform::ServiceSummary summary = service.serve(serviceOptionsOf(arguments, platform));
    writeJSON(ServeOutput(static_cast<double>(summary.requests), summary.stopped));
  } else {
    throw HelperError(HelperError::Case::unsupportedCommand, command);
  }
}

}  // namespace ondevice
