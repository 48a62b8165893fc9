#pragma once
// A file that must be a regular one, opened for reading without ever waiting on what the path
// names instead (a FIFO without writer, a device, a terminal), checked through the descriptor
// it was opened as, and read with interrupted reads retried. Whatever the path names by the
// time the file is read, the bytes are those of the file that was checked.
//
//   RegularFile file = RegularFile::open(path);
//   if (file.refusal() != RegularFile::Refusal::none) ...;   // file.error() for cannotOpen
//   std::string text;
//   if (const int error = file.readAll(text, limit); error != 0) ...;   // errno

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/unique_fd.h"

namespace ondevice {

class RegularFile {
 public:
  enum class Refusal {
    none,        // open, and a regular file
    cannotOpen,  // the system refused (error() says why)
    directory,
    notRegular,  // a FIFO, a device, a socket
  };

  // Never throws. The descriptor is blocking once the file is known to be regular, so that no
  // read can answer EAGAIN.
  static RegularFile open(const char* path);
  // The same checks on a descriptor opened elsewhere (one a client handed over a socket): it
  // must be open for reading. Never throws.
  static RegularFile adopt(UniqueFd fd);

  Refusal refusal() const { return refusal_; }
  // The errno of the refused open (or of the check after it), for Refusal::cannotOpen.
  int error() const { return error_; }
  // The descriptor; valid only when refusal() is none.
  int fd() const { return fd_.get(); }
  // The size when the file was opened.
  std::uint64_t size() const { return size_; }

  // Reads up to `count` bytes at the current offset: the number read, 0 at the end, -1 with
  // errno set.
  ssize_t read(void* buffer, std::size_t count) const;
  // Reads exactly `count` bytes at `offset`; false when the file ends before or a read fails.
  bool readExactlyAt(void* buffer, std::size_t count, off_t offset) const;
  // Appends the rest of the file to `out`, stopping once more than `limit` bytes were appended
  // (the caller sees out grow past it); 0, or the errno of the failed read.
  int readAll(std::string& out, std::size_t limit) const;

 private:
  RegularFile() = default;

  UniqueFd fd_;
  Refusal refusal_ = Refusal::cannotOpen;
  int error_ = 0;
  std::uint64_t size_ = 0;
};

}  // namespace ondevice
