#pragma once
// Writing every byte to a descriptor: short writes are continued and interrupted ones retried.
// The bytes go in one write() where the descriptor takes them whole, so that what several
// processes write to one file opened for appending, or to one pipe (up to PIPE_BUF bytes), never
// interleaves.
//
//   if (const int error = writeAll(fd, text); error != 0) ... // errno of the write that failed

#include <sys/types.h>

#include <cstddef>
#include <string_view>

namespace ondevice {

// 0 once all of `bytes` is written, else the errno of the write that failed.
int writeAll(int fd, std::string_view bytes);
// The same, also telling how many bytes were written before the failure.
int writeAll(int fd, std::string_view bytes, std::size_t& written);
// The same at a position of the file (pwrite), leaving the descriptor's offset alone.
int writeAllAt(int fd, std::string_view bytes, off_t offset);

}  // namespace ondevice
