#pragma once
// The end of a run. Every run ends with exactly one record and status 0 after a written result,
// 1 after anything else, whoever ends it:
//
// - The entry point writes a result, or an error record after any failure, and ends the run
//   with endRun(). Every record it writes claims the run's report first (writeRecordLine does).
// - The exit guard, installed first thing in main, ends the run when the process is being ended
//   behind the entry point's back: a library calls exit() (PocketSphinx does, from a decoder
//   thread, on a malformed model) or the process faults (a damaged model can make it). Its exit
//   handler and fatal-signal handlers write one error record on standard error and end the
//   process with status 1.
//
// Whoever claims the report first owns it, and the other writes nothing: once the entry point
// has claimed it, the process ends with the entry point's status whatever thread ends it; once
// the guard has, the entry point waits for the guard to end the process.
//
// The guard's record says what the thread that ended the process was doing, when that thread
// noted it: a thread about to do something that may end the process (load a model, decode)
// notes a description first and clears it after.
//
//   int main(int argc, char** argv) {
//     installExitGuard();
//     ... writeJSON(result); ...            // claims the report for the entry point
//     endRun(0);                            // also after a failure: endRun(1)
//   }
//   // on a decoder thread, with a text that stays valid while it is noted:
//   noteActivity("The speech recogniser stopped the run while decoding ...");
//   ...
//   noteActivity(nullptr);

namespace ondevice {

// Installs the exit guard: an exit handler and handlers of the fatal signals (SIGSEGV, SIGBUS,
// SIGFPE, SIGILL, SIGABRT). Call first thing in main, after takeHostStreams() (the guard writes
// to the host's standard error, output/host_streams.h) and before any other thread exists. The
// handlers run on an alternate signal stack where the thread has one (base/stacks.h): the main
// thread gets one here, and every other thread that may fault keeps an AlternateSignalStack
// while it runs. A process forked from the run ends quietly with status 1 where the guard would
// have written the record.
void installExitGuard();

// Claims the run's report for the entry point, which is about to write a record or to end the
// run with `status` (0 after a written result, 1 after a failure); claiming again only updates
// the status. When the exit guard claimed it first, waits for the guard to end the process and
// never returns. Async-signal-safe.
void claimRunReport(int status) noexcept;

// Ends the run as the entry point with `status`, also where writing its record failed.
[[noreturn]] void endRun(int status);

// Notes what the calling thread is doing, for the guard's record should the process end on
// this thread behind the entry point's back; null clears the note. The text is not copied: it
// must stay valid and unchanged while it is noted. Async-signal-safe; the speech module reaches
// it through a function pointer (platform/contract/speech_module.h's ActivityNote).
void noteActivity(const char* description) noexcept;

}  // namespace ondevice
