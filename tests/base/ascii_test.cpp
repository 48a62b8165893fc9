// ASCII case without a locale: only A-Z and a-z change, every other byte (digits, punctuation,
// UTF-8 sequences) passes as it is.

#include "base/ascii.h"

#include <gtest/gtest.h>

#include <string>

namespace ondevice {
namespace {

struct Folding {
  std::string text;
  std::string lowered;
  std::string uppered;
};

class AsciiCase : public ::testing::TestWithParam<Folding> {};

TEST_P(AsciiCase, ChangesOnlyAsciiLetters) {
  EXPECT_EQ(asciiLowered(GetParam().text), GetParam().lowered);
  EXPECT_EQ(asciiUppered(GetParam().text), GetParam().uppered);
  EXPECT_TRUE(equalsIgnoringAsciiCase(GetParam().lowered, GetParam().uppered));
}

INSTANTIATE_TEST_SUITE_P(, AsciiCase,
                         ::testing::Values(Folding{"EN-us_Latn", "en-us_latn", "EN-US_LATN"},
                                           Folding{"@[`{09", "@[`{09", "@[`{09"},
                                           Folding{"Ébène ß", "Ébène ß", "ÉBèNE ß"},
                                           Folding{"", "", ""}));

TEST(AsciiComparison, IgnoresOnlyAsciiCase) {
  EXPECT_TRUE(startsWithIgnoringAsciiCase("HTTP/1.1 200 OK", "http/"));
  EXPECT_TRUE(startsWithIgnoringAsciiCase("Content-Range: bytes 5-9/10", "content-range:"));
  EXPECT_FALSE(startsWithIgnoringAsciiCase("htt", "http/"));
  EXPECT_FALSE(equalsIgnoringAsciiCase("https", "http"));
  EXPECT_FALSE(equalsIgnoringAsciiCase("é", "É"));  // not ASCII: no case to fold
}

}  // namespace
}  // namespace ondevice
