#include "output/json_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cmath>
#include <string>

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

// Best effort: cuts a regular file back to where the line began when the `written` bytes of it
// that reached the file are the file's tail. Bytes after them were not written by this run and
// stay, and so does a record another run appended before them.
void removePartialLine(int fd, std::size_t written) {
  struct stat status {};
  if (written == 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return;
  // After a write, also to a file opened for appending, the offset is the end of its bytes.
  const off_t end = ::lseek(fd, 0, SEEK_CUR);
  const off_t start = end - static_cast<off_t>(written);
  if (start < 0 || status.st_size != end) return;
  if (::ftruncate(fd, start) == 0) {
    ::lseek(fd, start, SEEK_SET);  // an error record may follow on the same file (2>&1)
  }
}

}  // namespace

void writeRecordLine(OutputStream stream, std::string_view text) {
  const bool toOutput = stream == OutputStream::standardOutput;
  claimRunReport(toOutput ? 0 : 1);
  const int fd = toOutput ? hostOutputDescriptor() : hostErrorDescriptor();
  // The line and its line feed in one write: several runs may share the stream (xargs -P
  // appending to one file, or writing to one pipe), and a record written in pieces would get
  // another run's record in between.
  std::string line;
  line.reserve(text.size() + 1);
  line.append(text).push_back('\n');
  std::size_t written = 0;
  // A closed stream, a pipe whose reader is gone, a full device, a file at its size limit: the
  // host never got the record, so the run has failed.
  if (const int error = writeAll(fd, line, written); error != 0) {
    removePartialLine(fd, written);
    throw OutputWriteError(stream, error);
  }
}

}  // namespace ondevice
