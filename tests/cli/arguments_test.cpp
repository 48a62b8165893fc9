#include "cli/arguments.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "output/helper_error.h"
#include "tests/support/case_name.h"

namespace ondevice {
namespace {

using ::testing::Eq;
using ::testing::Throws;

TEST(ParseArguments, EmptyListIsAMissingCommand) {
  EXPECT_THAT([] { parseArguments({}); },
              Throws<HelperError>(Eq(HelperError(HelperError::Case::missingArgument, "command"))));
}

struct Case {
  std::vector<std::string> arguments;
  std::string command;
  std::unordered_map<std::string, std::string> options;
  std::unordered_set<std::string> flags;
};

class ParseArgumentsTable : public ::testing::TestWithParam<Case> {};

TEST_P(ParseArgumentsTable, Parses) {
  const ParsedArguments parsed = parseArguments(GetParam().arguments);
  EXPECT_EQ(parsed.command, GetParam().command);
  EXPECT_EQ(parsed.options, GetParam().options);
  EXPECT_EQ(parsed.flags, GetParam().flags);
}

const Case kCases[] = {
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
INSTANTIATE_TEST_SUITE_P(, ParseArgumentsTable, ::testing::ValuesIn(kCases),
                         testing::numberedBy<&Case::arguments>);

}  // namespace
}  // namespace ondevice
