#include "tests/support/binary_records.h"

#include "tests/support/json_check.h"

namespace ondevice::testing {

std::string oneRecordProblem(const ProcessResult& r) {
  if (r.timedOut) return "no end within the bound";
  if (r.signal != 0) return "killed by signal " + std::to_string(r.signal);
  if (r.exitStatus == 0) {
    if (const std::string problem = checkRecordLine(r.out); !problem.empty()) {
      return "standard output: " + problem;
    }
    return r.err.empty() ? "" : "standard error is not empty";
  }
  if (r.exitStatus != 1) return "status " + std::to_string(r.exitStatus);
  if (!r.out.empty()) return "standard output is not empty";
  if (const std::string problem = checkRecordLine(r.err); !problem.empty()) {
    return "standard error: " + problem;
  }
  const Json error = Json::parse(r.err);
  if (error.size() != 1 || !error.contains("error") || !error.at("error").is_string()) {
    return "the error record holds more or less than one error text";
  }
  return error.at("error").get<std::string>().empty() ? "the error text is empty" : "";
}

std::string recordField(const ProcessResult& r, const std::string& key) {
  const std::string& line = r.exitStatus == 0 ? r.out : r.err;
  if (line.empty()) return "<nothing written>";
  const auto parsed = parseJson(line.substr(0, line.size() - 1)).value;
  if (!parsed) return "<not JSON>";
  if (!parsed->contains(key)) return "<no " + key + ">";
  const Json& value = parsed->at(key);
  return value.is_string() ? value.get<std::string>() : value.dump();
}

}  // namespace ondevice::testing
