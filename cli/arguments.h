#pragma once
// The command line as the tool reads it: a command word, options (--key value) and flags (--key
// standing alone). The parser knows no names; dispatch decides what keys mean.
//
//   parseArguments({"transcribe", "--file", "a.wav", "--no-prepare"})
//   // command "transcribe", options {file: a.wav}, flags {no-prepare}

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace ondevice {

struct ParsedArguments {
  ParsedArguments(std::string command, std::unordered_map<std::string, std::string> options,
                  std::unordered_set<std::string> flags)
      : command(std::move(command)), options(std::move(options)), flags(std::move(flags)) {}

  std::string command;
  std::unordered_map<std::string, std::string> options;
  std::unordered_set<std::string> flags;
  // Every value each option was given, in order, for an option that may be repeated (`serve
  // --language en_US --language de_DE`); `options` holds the last of them.
  std::unordered_map<std::string, std::vector<std::string>> repeated;
};

// `arguments` excludes the program path. Throws HelperError(missingArgument, "command") when it
// is empty; accepts everything else.
ParsedArguments parseArguments(const std::vector<std::string>& arguments);

}  // namespace ondevice
