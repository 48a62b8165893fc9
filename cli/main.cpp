// The entry point: parse, dispatch, and turn any failure into one error record on standard error.
// The process ends with status 0 after a written result and 1 after any failure, nothing else,
// also when a library ends it or it faults (output/run_end.h).

#include <csignal>
#include <exception>
#include <string>
#include <vector>

#include "base/stacks.h"
#include "cli/arguments.h"
#include "cli/dispatch.h"
#include "output/helper_error.h"
#include "output/host_streams.h"
#include "output/json_writer.h"
#include "output/run_end.h"
#include "platform/light/real_speech_platform.h"

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
  ondevice::endRun(1);
}

}  // namespace

int main(int argc, char** argv) {
  // Only the run's records reach the host's streams; what libraries print goes to /dev/null.
  ondevice::takeHostStreams();
  // Threads get stacks of their own size, not the host's stack limit.
  ondevice::setThreadStackDefault();
  // A host that stops reading, or a file size limit, must give a failed write, not a process
  // killed by SIGPIPE or SIGXFSZ.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  ondevice::installExitGuard();

  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);

  try {
    const ondevice::ParsedArguments parsed = ondevice::parseArguments(arguments);
    // Recogniser threads note what they are doing through the exit guard's notes.
    ondevice::platform::RealSpeechPlatform platform(&ondevice::noteActivity);
    ondevice::run(parsed, platform, platform);
  } catch (...) {
    failWith(std::current_exception());
  }
  ondevice::endRun(0);
}
