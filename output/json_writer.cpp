#include "output/json_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cmath>
#include <optional>

#include "base/system_error.h"
#include "base/write_all.h"
#include "output/host_streams.h"
#include "output/run_end.h"

namespace ondevice {

JSONSerializationError::JSONSerializationError(const std::string& key)
    : std::runtime_error("Unable to write the result as JSON: the number \"" + key +
                         "\" is not finite.") {}

namespace json {

void ObjectWriter::beginMember(std::string_view key) {
  // Records list their members in written order; a slip would break the key order hosts see.
  assert(first_ || previousKey_ < key);
  if (!first_) out_.push_back(',');
  first_ = false;
  previousKey_ = key;
  appendString(out_, key);
  out_.push_back(':');
}

void ObjectWriter::member(std::string_view key, double value) {
  if (!std::isfinite(value)) throw JSONSerializationError(std::string(key));
  beginMember(key);
  appendNumber(out_, value);
}

}  // namespace json

OutputWriteError::OutputWriteError(OutputStream stream, int error)
    : std::runtime_error(describeSystemError(
          std::string("Unable to write the result to ") +
              (stream == OutputStream::standardOutput ? "standard output" : "standard error"),
          error)) {}

namespace {

// Where a record line begins in a regular file; none for any other stream.
std::optional<off_t> lineStart(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return std::nullopt;
  if ((flags & O_APPEND) != 0) return status.st_size;
  const off_t offset = ::lseek(fd, 0, SEEK_CUR);
  if (offset < 0) return std::nullopt;
  return offset;
}

// Best effort: cuts the file back to `start` when the part of the line written is its tail.
// Bytes after it were not written by this run and stay.
void removePartialLine(int fd, off_t start) {
  const off_t end = ::lseek(fd, 0, SEEK_CUR);
  struct stat status {};
  if (end <= start || ::fstat(fd, &status) != 0 || status.st_size != end) return;
  if (::ftruncate(fd, start) == 0) {
    ::lseek(fd, start, SEEK_SET);  // an error record may follow on the same file (2>&1)
  }
}

}  // namespace

void writeRecordLine(OutputStream stream, std::string_view text) {
  const bool toOutput = stream == OutputStream::standardOutput;
  claimRunReport(toOutput ? 0 : 1);
  const int fd = toOutput ? hostOutputDescriptor() : hostErrorDescriptor();
  const std::optional<off_t> start = lineStart(fd);
  // A closed stream, a pipe whose reader is gone, a full device, a file at its size limit: the
  // host never got the record, so the run has failed.
  int error = writeAll(fd, text);
  if (error == 0) error = writeAll(fd, "\n");
  if (error != 0) {
    if (start) removePartialLine(fd, *start);
    throw OutputWriteError(stream, error);
  }
}

}  // namespace ondevice
