#include "base/stacks.h"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <new>

namespace ondevice {
namespace {

// Room for a fault handler that writes one record, and for the signal frame, which holds the
// whole vector register state on the largest processors.
constexpr std::size_t kSignalStackBytes = 64u << 10;

}  // namespace

void setThreadStackDefault() noexcept {
  pthread_attr_t attributes;
  if (::pthread_getattr_default_np(&attributes) != 0) return;
  std::size_t size = 0;
  if (::pthread_attr_getstacksize(&attributes, &size) == 0 && size < kThreadStackBytes &&
      ::pthread_attr_setstacksize(&attributes, kThreadStackBytes) == 0) {
    ::pthread_setattr_default_np(&attributes);
  }
  ::pthread_attr_destroy(&attributes);
}

AlternateSignalStack::AlternateSignalStack() noexcept {
  // A page below the stack that faults, should a handler ever run past its end.
  const auto page = static_cast<std::size_t>(std::max(::sysconf(_SC_PAGESIZE), 4096L));
  const std::size_t bytes =
      std::max(kSignalStackBytes, static_cast<std::size_t>(std::max(::sysconf(_SC_SIGSTKSZ), 0L)));
  void* mapping = ::mmap(nullptr, page + bytes, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (mapping == MAP_FAILED) return;
  ::mprotect(mapping, page, PROT_NONE);
  stack_t stack{};
  stack.ss_sp = static_cast<char*>(mapping) + page;
  stack.ss_size = bytes;
  if (::sigaltstack(&stack, nullptr) != 0) {
    ::munmap(mapping, page + bytes);
    return;
  }
  mapping_ = mapping;
  mappedBytes_ = page + bytes;
}

AlternateSignalStack::~AlternateSignalStack() {
  if (mapping_ == nullptr) return;
  stack_t off{};
  off.ss_flags = SS_DISABLE;
  ::sigaltstack(&off, nullptr);
  ::munmap(mapping_, mappedBytes_);
}

void useAlternateSignalStackForever() noexcept {
  // Made in static storage and never destroyed: the stack serves the exit handlers too, and no
  // heap block outlives the run for a leak checker to report.
  alignas(AlternateSignalStack) static unsigned char storage[sizeof(AlternateSignalStack)];
  static const AlternateSignalStack* const forever = new (storage) AlternateSignalStack;
  (void)forever;
}

}  // namespace ondevice
