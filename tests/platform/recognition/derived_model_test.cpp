// The model's derived form on disk: found only when it is complete and made from the model's
// files as they are now, replaced when it is not, never written where the store cannot be
// written, and the dictionary cut down to the words the language model holds.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "engine/platform/module/recognition/derived_model.h"
#include "tests/support/case_name.h"
#include "tests/support/files.h"

namespace ondevice {
namespace {

namespace fs = std::filesystem;
using namespace platform;
using testing::readText;
using testing::ScratchDirectory;
using testing::writeText;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Optional;

constexpr const char* kDictionary = "hello HH AH L OW\nworld W ER L D\n";

class DerivedModelFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    writeText(source_.languageModel, "language model");
    writeText(source_.dictionary, kDictionary);
  }
  // The names of the directory's entries.
  std::set<std::string> kept() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  ScratchDirectory scratch_;
  ModelFiles source_{(scratch_.path() / "en-us").string(), (scratch_.path() / "lm.bin").string(),
                     (scratch_.path() / "words.dict").string()};
  fs::path directory_ = scratch_.path() / "store" / "en_US.derived";
  DerivedModel derived_{source_, directory_};
};

TEST_F(DerivedModelFiles, OnceWrittenIsFoundWithTheModelsOtherParts) {
  EXPECT_FALSE(derived_.find().has_value());
  ASSERT_TRUE(derived_.write("hello HH AH L OW\n"));
  const auto found = derived_.find();
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->acousticModel, source_.acousticModel);
  EXPECT_EQ(found->languageModel, source_.languageModel);
  EXPECT_EQ(fs::path(found->dictionary).parent_path(), directory_);
  EXPECT_THAT(readText(found->dictionary), HasSubstr("\nhello HH AH L OW\n"));
  // Another run finds it too.
  EXPECT_EQ(DerivedModel(source_, directory_).find().value_or(source_).dictionary, found->dictionary);
}

// What may happen to a derived form, or to the files it was made from, after it was written.
struct Damage {
  std::string name;
  std::function<void(const fs::path& form, const ModelFiles& source)> apply;
};

class DamagedDerivedModel : public DerivedModelFiles,
                            public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedDerivedModel, IsNeverUsedAndTheNextWriteReplacesIt) {
  ASSERT_TRUE(derived_.write(kDictionary));
  const fs::path form = derived_.find().value().dictionary;
  GetParam().apply(form, source_);

  EXPECT_FALSE(derived_.find().has_value());
  ASSERT_TRUE(derived_.write(kDictionary));
  EXPECT_TRUE(derived_.find().has_value());
  EXPECT_EQ(kept().size(), 1u) << "what was replaced is removed";
}

const Damage kDamages[] = {
    {"cut in the middle",
     [](const fs::path& form, const ModelFiles&) { fs::resize_file(form, fs::file_size(form) / 2); }},
    {"cut before its last line",
     [](const fs::path& form, const ModelFiles&) {
       const std::string text = readText(form);
       writeText(form, text.substr(0, text.rfind('\n', text.size() - 2) + 1));
     }},
    {"a line more at its end",
     [](const fs::path& form, const ModelFiles&) {
       writeText(form, readText(form) + "extra EH K S T R AH\n");
     }},
    {"its header changed",
     [](const fs::path& form, const ModelFiles&) {
       std::string text = readText(form);
       text[text.find("form 1")] = 'F';
       writeText(form, text);
     }},
    {"the dictionary changed since",
     [](const fs::path&, const ModelFiles& source) {
       writeText(source.dictionary, std::string(kDictionary) + "again AH G EH N\n");
     }},
    {"the language model replaced by one of the same size",
     [](const fs::path&, const ModelFiles& source) {
       writeText(source.languageModel, "LANGUAGE MODEL");
       fs::last_write_time(source.languageModel,
                           fs::last_write_time(source.languageModel) + std::chrono::seconds(5));
     }},
};
INSTANTIATE_TEST_SUITE_P(, DamagedDerivedModel, ::testing::ValuesIn(kDamages),
                         testing::namedBy<&Damage::name>);

TEST_F(DerivedModelFiles, AWriteRemovesWhatInterruptedOrOutdatedWritesLeft) {
  fs::create_directories(directory_);
  writeText(directory_ / ".writing-Ab3xYz", "hello HH");
  writeText(directory_ / "0123456789abcdef.dict", "an older form");
  ASSERT_TRUE(derived_.write(kDictionary));
  EXPECT_THAT(kept(), ElementsAre(fs::path(derived_.find().value().dictionary).filename()));
}

TEST_F(DerivedModelFiles, NothingIsWrittenWhereTheStoreCannotBeWritten) {
  // Below a file: the directory cannot be made.
  writeText(scratch_.path() / "a-file", "");
  const DerivedModel belowAFile(source_, scratch_.path() / "a-file" / "en_US.derived");
  EXPECT_FALSE(belowAFile.write(kDictionary));
  EXPECT_FALSE(belowAFile.find().has_value());

  const fs::path store = scratch_.path() / "read-only";
  testing::TemporaryMount mount(store, "size=1m", MS_RDONLY);
  if (!mount.mounted()) GTEST_SKIP() << "cannot mount a read-only file system here";
  const DerivedModel readOnly(source_, store / "en_US.derived");
  EXPECT_FALSE(readOnly.write(kDictionary));
  EXPECT_FALSE(readOnly.find().has_value());
  EXPECT_TRUE(fs::is_empty(store));
}

TEST(RestrictDictionary, KeepsEveryPronunciationOfTheKnownWordsInOrder) {
  const std::string dictionary =
      ";; comment\n"
      "## another\n"
      "read R EH D\n"
      "zyzzyva Z IH Z AH V AH\n"
      "\n"
      "read(2) R IY D\n"
      "  a AH\n"
      "a(2)\tEY";  // the last line without its line feed
  const std::set<std::string> known = {"read", "a", "comment"};
  EXPECT_EQ(restrictDictionary(dictionary, [&](const std::string& word) {
              return known.contains(word);
            }),
            "read R EH D\nread(2) R IY D\n  a AH\na(2)\tEY\n");
}

}  // namespace
}  // namespace ondevice
