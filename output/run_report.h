#pragma once
// The one report of a run. Exactly one party writes the record that ends it: the entry point
// (a result, or an error record after any failure), or the exit guard when the process is being
// ended behind the entry point's back (a library calling exit(), a fatal signal). Whoever claims
// the report first owns it; the other writes nothing.
//
//   if (!report::claimForEntryPoint(0)) report::awaitTheExitGuard();
//   ... write the result ...
//   std::exit(0);

namespace ondevice::report {

// Claims the report for the entry point, which is about to write a record, or end the run,
// with `status` (0 after a result, 1 after a failure); claiming again only updates the status.
// False when the exit guard claimed the report first. Async-signal-safe.
bool claimForEntryPoint(int status) noexcept;

// What the exit guard finds when it claims the report.
struct GuardClaim {
  enum class Owner { exitGuard, entryPoint, exitGuardBefore } owner;
  int entryPointStatus;  // for Owner::entryPoint
};
// Claims the report for the exit guard: Owner::exitGuard when nothing had been claimed, so the
// guard now writes the record; otherwise who holds it. Async-signal-safe.
GuardClaim claimForExitGuard() noexcept;

// Waits for the exit guard, which owns the report, to end the process.
[[noreturn]] void awaitTheExitGuard() noexcept;

}  // namespace ondevice::report
