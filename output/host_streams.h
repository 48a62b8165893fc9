#pragma once
// The host's standard output and error, kept apart from the process's descriptors 1 and 2.
//
// The host reads one record and nothing else, but libraries write to descriptors 1 and 2 on
// their own: PocketSphinx's support library prints a line on standard error before it ends the
// process on a failed allocation, whatever its log setting says. So, first thing in main, the
// host's two streams move to private descriptors (closed on exec) that only the record writer
// and the exit guard write to, and descriptors 0, 1 and 2 point at /dev/null. A stream the host
// left closed stays closed for the records (writing one fails as it would have), and its number
// is taken by /dev/null, so that no file opened later lands on it.
//
// In a build with a sanitizer, its reports go to the host's standard error, where the tests
// read them.
//
//   int main() {
//     takeHostStreams();
//     ... writeAll(hostErrorDescriptor(), record) ...
//   }

namespace ondevice {

// Moves the host's streams away and points 0, 1 and 2 at /dev/null. Call once, before any other
// thread exists and before anything opens a file. Where /dev/null cannot be opened, descriptors
// 1 and 2 are left as they are.
void takeHostStreams() noexcept;

// The descriptors the host's standard output and error are reached through: 1 and 2 until
// takeHostStreams() ran, then the private ones; -1 for a stream the host left closed.
// Async-signal-safe.
int hostOutputDescriptor() noexcept;
int hostErrorDescriptor() noexcept;

}  // namespace ondevice
