#include "cli/arguments.h"

#include <gtest/gtest.h>

#include "output/helper_error.h"

namespace ondevice {
namespace {

TEST(ParseArguments, EmptyListIsAMissingCommand) {
  try {
    parseArguments({});
    FAIL() << "no error";
  } catch (const HelperError& e) {
    EXPECT_EQ(e, HelperError(HelperError::Case::missingArgument, "command"));
  }
}

TEST(ParseArguments, Table) {
  struct Case {
    std::vector<std::string> arguments;
    std::string command;
    std::unordered_map<std::string, std::string> options;
    std::unordered_set<std::string> flags;
  };
  const std::vector<Case> cases = {
      {{"version"}, "version", {}, {}},
      {{"transcribe", "--file", "a.wav", "--language", "fr_FR"},
       "transcribe", {{"file", "a.wav"}, {"language", "fr_FR"}}, {}},
      {{"transcribe", "--file", "a.wav", "--no-prepare"}, "transcribe", {{"file", "a.wav"}},
       {"no-prepare"}},
      {{"transcribe", "--no-prepare", "--file", "a.wav"}, "transcribe", {{"file", "a.wav"}},
       {"no-prepare"}},
      {{"transcribe", "--no-prepare", "a.wav"}, "transcribe", {{"no-prepare", "a.wav"}}, {}},
      {{"transcribe", "--file", "--no-prepare"}, "transcribe", {}, {"file", "no-prepare"}},
      {{"transcribe", "-f", "a.wav"}, "transcribe", {}, {}},
      {{"prepare", "--language", "de_DE", "--language", "fr_FR"}, "prepare",
       {{"language", "fr_FR"}}, {}},
      {{"prepare", "--x", "--x"}, "prepare", {}, {"x"}},
      {{"prepare", "--language", "--language", "it_IT"}, "prepare", {{"language", "it_IT"}},
       {"language"}},
      {{"prepare", "stray", "--language", "es_ES", "extra"}, "prepare", {{"language", "es_ES"}},
       {}},
      {{"--language", "de_DE"}, "--language", {}, {}},
      {{"version", "--", "value"}, "version", {{"", "value"}}, {}},
      {{"version", "--"}, "version", {}, {""}},
      {{"version", "--language", ""}, "version", {{"language", ""}}, {}},
      {{"version", "--offset", "-5"}, "version", {{"offset", "-5"}}, {}},
      {{"version", "--key=value"}, "version", {}, {"key=value"}},
      {{""}, "", {}, {}},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& a : c.arguments) shown += "[" + a + "]";
    SCOPED_TRACE(shown);
    const ParsedArguments parsed = parseArguments(c.arguments);
    EXPECT_EQ(parsed.command, c.command);
    EXPECT_EQ(parsed.options, c.options);
    EXPECT_EQ(parsed.flags, c.flags);
  }
}

}  // namespace
}  // namespace ondevice
