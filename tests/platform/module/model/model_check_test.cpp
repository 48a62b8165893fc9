// A model looked over before it is loaded, and loaded in a process of its own before it is
// installed: a file that is no regular file, or a language model whose header claims more than
// its file holds, is refused at once with what is wrong; a model that needs more memory than
// its bound is refused when the loading process runs out of it, not after it took gigabytes.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/contract/model_parts.h"
#include "platform/module/model/model_load_check.h"
#include "tests/support/case_name.h"
#include "tests/support/files.h"
#include "tests/support/sanitizer_build.h"
#include "tests/support/speech_test_support.h"

namespace ondevice {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::ModelLoadVerdict;
using Outcome = ModelLoadVerdict::Outcome;
using testing::ScratchDirectory;

void replaceWith(const fs::path& part, const std::string& bytes) {
  fs::remove_all(part);
  testing::writeText(part, bytes);
}
void replaceWithFifo(const fs::path& part) {
  fs::remove_all(part);
  ASSERT_EQ(::mkfifo(part.c_str(), 0600), 0);
}
void replaceWithLink(const fs::path& part, const fs::path& target) {
  fs::remove_all(part);
  fs::create_symlink(target, part);
}

std::string little32(uint32_t value) {
  std::string out;
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return out;
}

// The start of a binary trie language model: its magic, order and counts, and some bytes more.
std::string trieHeader(unsigned order, const std::vector<uint32_t>& counts) {
  std::string bytes = "Trie Language Model" + std::string(1, static_cast<char>(order));
  for (const uint32_t count : counts) bytes += little32(count);
  return bytes + std::string(64, '\0');
}

// An ARPA language model whose counts lie past the first 12 KB (comment lines) and claim 500
// million unigrams: too far for the look before loading, so only the loading process sees it.
std::string arpaClaimingLate() {
  std::string text;
  for (int line = 0; line < 300; ++line) text += "# a comment of forty characters or so ..\n";
  return text + "\\data\\\nngram 1=500000000\n\n\\1-grams:\n-1.0 <s> 0\n-1.0 </s>\n\n\\end\\\n";
}

struct Damage {
  std::string name;
  std::function<void(const fs::path& model)> apply;
  Outcome outcome;
  std::string why;
  bool failsAnAllocation = false;
};

class ModelLoadCheck : public ::testing::TestWithParam<Damage> {};

TEST_P(ModelLoadCheck, GivesItsVerdict) {
  if (GetParam().failsAnAllocation && testing::kSanitizerBuild) {
    GTEST_SKIP() << testing::kSanitizerSkipReason;
  }
  ScratchDirectory scratch;
  const fs::path model = testing::speech::linkSystemModel(scratch.path() / "model");
  GetParam().apply(model);
  // Before the look at the files, a FIFO kept the loading process waiting for the whole limit.
  const ModelLoadVerdict verdict =
      platform::checkModelLoads(platform::modelFilesIn(model, platform::ModelParts{}), 30s);
  EXPECT_EQ(verdict.outcome, GetParam().outcome);
  EXPECT_EQ(verdict.why, GetParam().why);
}

const std::string kLanguageModel = std::string(testing::speech::kModel) + "/en-us.lm.bin";

const Damage kDamages[] = {
    {"as installed", [](const fs::path&) {}, Outcome::loaded, ""},
    {"definition a FIFO", [](const fs::path& m) { replaceWithFifo(m / "en-us/mdef"); },
     Outcome::refused, "en-us/mdef is not a regular file"},
    {"feature settings a link to a device",
     [](const fs::path& m) { replaceWithLink(m / "en-us/feat.params", "/dev/zero"); },
     Outcome::refused, "en-us/feat.params is not a regular file"},
    {"noise dictionary a directory",
     [](const fs::path& m) {
       fs::remove(m / "en-us/noisedict");
       fs::create_directory(m / "en-us/noisedict");
     },
     Outcome::refused, "en-us/noisedict is not a regular file"},
    {"dictionary a FIFO", [](const fs::path& m) { replaceWithFifo(m / "cmudict-en-us.dict"); },
     Outcome::refused, "cmudict-en-us.dict is not a regular file"},
    {"language model cut after its header",
     [](const fs::path& m) {
       replaceWith(m / "en-us.lm.bin", testing::readText(kLanguageModel).substr(0, 100));
     },
     Outcome::refused,
     "the language model en-us.lm.bin claims 2051547 2-grams, more than its 100 bytes can hold"},
    {"language model claiming two billion unigrams",
     [](const fs::path& m) {
       replaceWith(m / "en-us.lm.bin", trieHeader(3, {2000000000, 0, 0}));
     },
     Outcome::refused,
     "the language model en-us.lm.bin claims 2000000000 1-grams, more than its 96 bytes can hold"},
    // The recogniser keeps the counts in an array of five.
    {"language model of order 255",
     [](const fs::path& m) {
       replaceWith(m / "en-us.lm.bin", trieHeader(255, {1, 1, 1}));
     },
     Outcome::refused,
     "the language model en-us.lm.bin claims n-grams of order 255, where the recogniser reads "
     "orders 1 to 5"},
    {"language model with its claim past the first kilobytes",
     [](const fs::path& m) { replaceWith(m / "en-us.lm.bin", arpaClaimingLate()); },
     Outcome::refused, "it needs more than 1024 MiB of memory", true},
};
INSTANTIATE_TEST_SUITE_P(, ModelLoadCheck, ::testing::ValuesIn(kDamages),
                         testing::namedBy<&Damage::name>);

}  // namespace
}  // namespace ondevice
