// The entry point: parse, dispatch, and turn any failure into one error record on standard error.
// The process ends with status 0 after a written result and 1 after any failure, nothing else.

#include <csignal>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/dispatch.h"
#include "engine/platform/real_speech_platform.h"
#include "output/helper_error.h"
#include "output/json_writer.h"

namespace {

std::string descriptionOf(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const ondevice::HelperError& e) {
    return e.errorDescription();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "An unknown error occurred.";
  }
}

[[noreturn]] void failWith(std::exception_ptr error) {
  try {
    ondevice::writeJSON(ondevice::ErrorOutput(descriptionOf(error)),
                        ondevice::OutputStream::standardError);
  } catch (...) {
    // Nothing more can be reported.
  }
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  // A host that stops reading must see a failed write, not a process killed by SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);

  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);

  try {
    const ondevice::ParsedArguments parsed = ondevice::parseArguments(arguments);
    ondevice::platform::RealSpeechPlatform platform;
    ondevice::run(parsed, platform);
  } catch (...) {
    failWith(std::current_exception());
  }
  std::exit(0);
}
