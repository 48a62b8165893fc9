#include "cli/dispatch.h"

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

void run(const ParsedArguments& arguments, platform::SpeechPlatform& platform) {
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
  } else {
    throw HelperError(HelperError::Case::unsupportedCommand, command);
  }
}

}  // namespace ondevice
