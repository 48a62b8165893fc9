// Language model headers read against their files' sizes: the installed models pass, a header
// that claims more than its file can hold does not, in each of the three formats.

#include "platform/module/model/language_model_claims.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "tests/support/case_name.h"
#include "tests/support/speech_test_support.h"

namespace ondevice {
namespace {

namespace fs = std::filesystem;
using platform::kLanguageModelHeaderBytes;

std::string int32(uint32_t value, bool bigEndian = false) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) {
    out[static_cast<size_t>(bigEndian ? 3 - i : i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
  }
  return out;
}

// A binary dump's header: magic, the name of the file it came from, a version and time stamp,
// one format description, and the three counts.
std::string dumpHeader(uint32_t unigrams, uint32_t bigrams, uint32_t trigrams, bool bigEndian) {
  const auto field = [&](uint32_t value) { return int32(value, bigEndian); };
  return field(17) + std::string("Darpa Trigram LM\0", 17) + field(4) + "x.lm" +
         field(static_cast<uint32_t>(-1)) + field(0) + field(5) + "words" + field(0) +
         field(unigrams) + field(bigrams) + field(trigrams);
}

std::string installedHeader(const std::string& file) {
  std::ifstream in(fs::path(testing::speech::kModel) / file, std::ios::binary);
  std::string bytes(kLanguageModelHeaderBytes, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}
uint64_t installedSize(const std::string& file) {
  return fs::file_size(fs::path(testing::speech::kModel) / file);
}

struct Header {
  std::string name;
  std::string bytes;
  uint64_t fileBytes;
  std::optional<std::string> fault;  // none: nothing to refuse (or no header known here)
};

class LanguageModelHeader : public ::testing::TestWithParam<Header> {};

TEST_P(LanguageModelHeader, IsJudgedAgainstItsFile) {
  const auto claims = platform::readLanguageModelClaims(GetParam().bytes);
  const auto fault =
      claims ? platform::languageModelClaimFault(*claims, GetParam().fileBytes) : std::nullopt;
  EXPECT_EQ(fault, GetParam().fault);
}

const std::string kArpa = "\\data\\\nngram 1=3\nngram 2=2\n\n\\1-grams:\n-1 <s> -1\n-1 </s>\n";
const Header kHeaders[] = {
    {"installed model", installedHeader("en-us.lm.bin"), installedSize("en-us.lm.bin"), {}},
    {"installed phone model",
     installedHeader("en-us-phone.lm.bin"),
     installedSize("en-us-phone.lm.bin"),
     {}},
    {"installed model cut short", installedHeader("en-us.lm.bin"), 1000000,
     "claims 2051547 2-grams, more than its 1000000 bytes can hold"},
    {"trie cut inside its counts", installedHeader("en-us.lm.bin").substr(0, 25), 25, {}},
    {"dump", dumpHeader(1000, 2000, 3000, false), 100000, {}},
    {"dump claiming too much", dumpHeader(1000, 2000, 3000000, false), 100000,
     "claims 3000000 3-grams, more than its 100000 bytes can hold"},
    {"big-endian dump claiming too much", dumpHeader(4000000, 2, 3, true), 100000,
     "claims 4000000 1-grams, more than its 100000 bytes can hold"},
    {"ARPA", kArpa, 1000, {}},
    {"ARPA with comments and CRLF", "# made by hand\r\n\r\n \\data\\ \r\nngram 1=500000000\r\n\r\n",
     1000, "claims 500000000 1-grams, more than its 1000 bytes can hold"},
    {"ARPA of order six",
     "\\data\\\nngram 1=1\nngram 2=1\nngram 3=1\nngram 4=1\nngram 5=1\nngram 6=1\n", 1000,
     "claims n-grams of order 6, where the recogniser reads orders 1 to 5"},
    {"compressed", std::string("\x1f\x8b\x08\0\0\0\0\0", 8) + "\\data\\\n", 10, {}},
};
INSTANTIATE_TEST_SUITE_P(, LanguageModelHeader, ::testing::ValuesIn(kHeaders),
                         testing::namedBy<&Header::name>);

}  // namespace
}  // namespace ondevice
