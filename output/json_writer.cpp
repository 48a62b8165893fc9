#include "output/json_writer.h"

#include <unistd.h>

#include <cassert>
#include <cmath>

#include "base/system_error.h"
#include "base/write_all.h"

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

void writeToStream(OutputStream stream, std::string_view bytes) {
  const int fd = stream == OutputStream::standardOutput ? STDOUT_FILENO : STDERR_FILENO;
  // A closed stream, a pipe whose reader is gone, a full device: the host never got the
  // record, so the run has failed.
  if (const int error = writeAll(fd, bytes); error != 0) throw OutputWriteError(stream, error);
}

}  // namespace ondevice
