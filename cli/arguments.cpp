#include "cli/arguments.h"

#include "output/helper_error.h"

namespace ondevice {
namespace {

bool isKey(const std::string& argument) { return argument.starts_with("--"); }

}  // namespace

ParsedArguments parseArguments(const std::vector<std::string>& arguments) {
  if (arguments.empty()) throw HelperError(HelperError::Case::missingArgument, "command");

  std::unordered_map<std::string, std::string> options;
  std::unordered_set<std::string> flags;
  std::unordered_map<std::string, std::vector<std::string>> repeated;
  size_t i = 1;
  while (i < arguments.size()) {
    if (!isKey(arguments[i])) {  // a stray word
      ++i;
      continue;
    }
    std::string key = arguments[i].substr(2);
    if (i + 1 < arguments.size() && !isKey(arguments[i + 1])) {
      repeated[key].push_back(arguments[i + 1]);
      options.insert_or_assign(std::move(key), arguments[i + 1]);
      i += 2;
    } else {
      flags.insert(std::move(key));
      ++i;
    }
  }
  ParsedArguments parsed(arguments[0], std::move(options), std::move(flags));
  parsed.repeated = std::move(repeated);
  return parsed;
}

}  // namespace ondevice
