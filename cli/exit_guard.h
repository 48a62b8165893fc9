#pragma once
// A run never ends without a record, whatever a library does. PocketSphinx calls exit() from a
// decoder thread when a model file is malformed, and a damaged model can make it fault; either
// would end the process with nothing on either stream. The guard, installed first thing in main,
// catches both: an exit handler and handlers of the fatal signals write one error record on
// standard error and end the process with status 1, unless the entry point has claimed the
// run's report (output/run_report.h), as it does for every record it writes.
//
//   installExitGuard(&platform::recogniserStopDescription);

namespace ondevice {

// `describe` says, from the thread that is ending the process, why; null when it cannot, and
// the record then says what ended the run in general words. It must be async-signal-safe.
using StopDescription = const char* (*)() noexcept;

void installExitGuard(StopDescription describe);

}  // namespace ondevice
