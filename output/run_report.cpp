#include "output/run_report.h"

#include <unistd.h>

#include <atomic>

namespace ondevice::report {
namespace {

// kUnclaimed, kExitGuard, or the entry point's status (0 or 1).
constexpr int kUnclaimed = -1;
constexpr int kExitGuard = -2;
std::atomic<int> owner{kUnclaimed};
static_assert(std::atomic<int>::is_always_lock_free, "read from signal handlers");

}  // namespace

bool claimForEntryPoint(int status) noexcept {
  int current = owner.load();
  while (current != kExitGuard) {
    if (owner.compare_exchange_weak(current, status)) return true;
  }
  return false;
}

GuardClaim claimForExitGuard() noexcept {
  int current = kUnclaimed;
  if (owner.compare_exchange_strong(current, kExitGuard)) {
    return {GuardClaim::Owner::exitGuard, 0};
  }
  if (current == kExitGuard) return {GuardClaim::Owner::exitGuardBefore, 0};
  return {GuardClaim::Owner::entryPoint, current};
}

void awaitTheExitGuard() noexcept {
  for (;;) ::pause();
}

}  // namespace ondevice::report
