#pragma once
// Stacks that do not depend on the limit the host set. A host may start the tool with a small
// stack limit (ulimit -s 64): glibc then gives every new thread a stack of that size, and a fault
// handler that runs on the stack that just ran out faults again before it can report.
//
//   int main() {
//     setThreadStackDefault();                 // before any other thread exists
//     useAlternateSignalStackForever();        // the main thread's handlers
//   }
//   void worker() {
//     const AlternateSignalStack signalStack;  // this thread's handlers, while it runs
//   }

#include <cstddef>

namespace ondevice {

// The stack of every thread made later without a size of its own: at least kThreadStackBytes,
// more where the host's limit gives more. Never throws; left as it is where the system refuses.
inline constexpr std::size_t kThreadStackBytes = 8u << 20;
void setThreadStackDefault() noexcept;

// A stack of the calling thread's own for the handlers of signals installed with SA_ONSTACK,
// from construction to destruction (on the same thread). Best effort: without memory for it,
// handlers run on the thread's own stack.
class AlternateSignalStack {
 public:
  AlternateSignalStack() noexcept;
  ~AlternateSignalStack();
  AlternateSignalStack(const AlternateSignalStack&) = delete;
  AlternateSignalStack& operator=(const AlternateSignalStack&) = delete;

 private:
  void* mapping_ = nullptr;
  std::size_t mappedBytes_ = 0;
};

// The same for the calling thread until the process ends (the main thread's, which exit handlers
// still use after static objects are destroyed).
void useAlternateSignalStackForever() noexcept;

}  // namespace ondevice
