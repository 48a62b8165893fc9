#include "engine/text_trimming.h"

#include <gtest/gtest.h>

namespace ondevice {
namespace {

TEST(TextTrimming, RemovesWhitespaceAndNewlinesAtBothEndsOnly) {
  const std::pair<std::string, std::string> cases[] = {
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
  for (const auto& [in, out] : cases) EXPECT_EQ(trimWhitespaceAndNewlines(in), out) << in;
}

}  // namespace
}  // namespace ondevice
