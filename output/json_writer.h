#pragma once
// writeJSON: one record as one line of compact JSON, keys in ascending order, on standard output
// or standard error. The record is serialized completely before the first byte is written; a
// record that cannot be serialized (a non-finite number) throws and writes nothing, and a
// stream that refuses the line (closed, a pipe whose reader is gone, a file at its size limit)
// throws too, leaving no part of the line behind in a regular file where it can help it.
//
//   writeJSON(PrepareOutput(true, "en_US"));                      //
//   {"language":"en_US","prepared":true} writeJSON(ErrorOutput("..."),
//   OutputStream::standardError);

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "output/json_text.h"
#include "output/records.h"

namespace ondevice {

enum class OutputStream { standardOutput, standardError };

// Raised for a number JSON cannot hold (NaN or an infinity).
class JSONSerializationError : public std::runtime_error {
 public:
  explicit JSONSerializationError(const std::string& key);
};

namespace json {

// Writes the members of one object; records call member() in ascending key order.
class ObjectWriter {
 public:
  explicit ObjectWriter(std::string& out) : out_(out) {}

  void member(std::string_view key, const std::string& value) {
    beginMember(key);
    appendString(out_, value);
  }
  void member(std::string_view key, bool value) {
    beginMember(key);
    out_.append(value ? "true" : "false");
  }
  void member(std::string_view key, double value);
  template <typename Record>
  void member(std::string_view key, const std::vector<Record>& values) {
    beginMember(key);
    out_.push_back('[');
    for (size_t i = 0; i < values.size(); ++i) {
      if (i > 0) out_.push_back(',');
      appendObject(out_, values[i]);
    }
    out_.push_back(']');
  }

  template <typename Record>
  static void appendObject(std::string& out, const Record& record) {
    out.push_back('{');
    ObjectWriter members(out);
    record.encode(members);
    out.push_back('}');
  }

 private:
  void beginMember(std::string_view key);

  std::string& out_;
  std::string previousKey_;
  bool first_ = true;
};

}  // namespace json

// The JSON text of a record, without the line feed. Throws JSONSerializationError.
template <typename Record>
std::string serializeJSON(const Record& record) {
  std::string out;
  json::ObjectWriter::appendObject(out, record);
  return out;
}

// Raised when the stream does not take the bytes.
class OutputWriteError : public std::runtime_error {
 public:
  OutputWriteError(OutputStream stream, int error);
};

// Writes one record line, `text` and a line feed, in one write (continued only after a short
// one): on a file opened for appending, and on a pipe up to PIPE_BUF bytes, no other process's
// write lands inside it. Throws OutputWriteError. A line is written whole or the run fails: when
// the stream is a regular file that a failed write left holding part of the line at its end, the
// file is cut back to where the line began. Claims the run's report for the entry point first (see
// output/run_end.h); when the exit guard holds it, waits for the guard to end the process.
void writeRecordLine(OutputStream stream, std::string_view text);

template <typename Record>
void writeJSON(const Record& record, OutputStream to = OutputStream::standardOutput) {
  writeRecordLine(to, serializeJSON(record));
}

}  // namespace ondevice
