#include "engine/text_trimming.h"

#include <gtest/gtest.h>

#include "tests/support/case_name.h"

namespace ondevice {
namespace {

struct Trim {
  std::string in;
  std::string out;
};

class TextTrimming : public ::testing::TestWithParam<Trim> {};

TEST_P(TextTrimming, RemovesWhitespaceAndNewlinesAtBothEndsOnly) {
  EXPECT_EQ(trimWhitespaceAndNewlines(GetParam().in), GetParam().out);
}

const Trim kTrims[] = {
    {"", ""},
    {"plain", "plain"},
    {" \t\n\v\f\r", ""},
    {"\u0085\u00a0\u1680\u2000\u200a\u2028\u2029\u202f\u205f\u3000word\u3000", "word"},
    {"  two  words \n", "two  words"},
    {"in\u00a0side", "in\u00a0side"},
    // Not whitespace: zero width space, BOM, and a lone invalid byte.
    {"\u200bx\ufeff", "\u200bx\ufeff"},
    {" \xff ", "\xff"},
    {"é ", "é"},
};
INSTANTIATE_TEST_SUITE_P(, TextTrimming, ::testing::ValuesIn(kTrims),
                         testing::numberedBy<&Trim::in>);

}  // namespace
}  // namespace ondevice
