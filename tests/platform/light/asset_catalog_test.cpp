// The asset catalog: the built-in entry, the JSON form, and clear errors for unusable files.

#include "platform/light/asset_catalog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/api/platform_error.h"
#include "platform/light/settings.h"
#include "tests/support/asset_test_support.h"
#include "tests/support/case_name.h"
#include "tests/support/environment_scope.h"

namespace ondevice::platform {
namespace {

namespace assets = ondevice::testing::assets;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

const std::string kDigest(64, 'a');

TEST(AssetCatalogTest, BuiltInHoldsTheSystemEnglishModel) {
  const auto catalog = AssetCatalog::builtIn();
  ASSERT_EQ(catalog.entries().size(), 1u);
  const CatalogEntry* entry = catalog.find("en_US");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->system, "/usr/share/pocketsphinx/model/en-us");
  EXPECT_FALSE(entry->archive);
  EXPECT_EQ(entry->model.acoustic, "en-us");
  EXPECT_EQ(entry->model.language, "en-us.lm.bin");
  EXPECT_EQ(entry->model.dictionary, "cmudict-en-us.dict");
  EXPECT_EQ(catalog.find("en_GB"), nullptr);
}

TEST(AssetCatalogTest, ParsesEveryFieldAndKeepsTheFileOrder) {
  const auto catalog = AssetCatalog::parse(R"({"locales": {
      "fr_FR": {"archive": "https://m.example/fr.tar.xz", "sha256": ")" +
                                               std::string(64, 'A') + R"(", "size": 1234,
                "installedSize": 56789012345,
                "model": {"acoustic": "fr", "language": "lm/fr.lm.bin", "dictionary": "fr.dict"}},
      "en_US": {"system": "/opt/en"},
      "de_DE": {}}})",
                                           "test.json");
  ASSERT_EQ(catalog.entries().size(), 3u);
  EXPECT_EQ(catalog.entries()[0].identifier, "fr_FR");
  EXPECT_EQ(catalog.entries()[1].identifier, "en_US");
  EXPECT_EQ(catalog.entries()[2].identifier, "de_DE");

  const auto& fr = catalog.entries()[0];
  EXPECT_EQ(fr.archive, "https://m.example/fr.tar.xz");
  EXPECT_EQ(fr.sha256, std::string(64, 'a'));  // kept lower case
  EXPECT_EQ(fr.size, 1234u);
  EXPECT_EQ(fr.installedSize, 56789012345u);
  EXPECT_FALSE(fr.system);
  EXPECT_EQ(fr.model.acoustic, "fr");
  EXPECT_EQ(fr.model.language, "lm/fr.lm.bin");
  EXPECT_EQ(fr.model.dictionary, "fr.dict");

  const auto& de = catalog.entries()[2];
  EXPECT_FALSE(de.system);
  EXPECT_FALSE(de.archive);
  EXPECT_FALSE(de.size);
  EXPECT_FALSE(de.installedSize);
  EXPECT_EQ(de.model.language, "en-us.lm.bin");  // default parts
}

TEST(AssetCatalogTest, KeysAreStoredAsPosixIdentifiersInFileOrder) {
  // Identifiers name the store's directories and are what results report, so every spelling
  // of a locale becomes the one POSIX identifier.
  const auto catalog = AssetCatalog::parse(
      R"({"locales": {"en-us": {}, "EN_gb.UTF-8": {}, "sr-latn-rs": {}, "es_419": {}}})", "t");
  std::vector<std::string> identifiers;
  for (const auto& entry : catalog.entries()) identifiers.push_back(entry.identifier);
  EXPECT_EQ(identifiers, (std::vector<std::string>{"en_US", "en_GB", "sr_Latn_RS", "es_419"}));
  EXPECT_NE(catalog.find("en_US"), nullptr);
  EXPECT_EQ(catalog.find("en-us"), nullptr);
}

TEST(AssetCatalogTest, AHundredThousandLocalesKeepTheirOrder) {
  // Each key costs the same however many came before it (the time is measured by bench/run).
  const auto identifier = [](int i) {
    return std::string{char('a' + i / 676 % 26), char('a' + i / 26 % 26), char('a' + i % 26)} +
           "_" + std::string{char('A' + i / 17576 % 26), char('A' + i / 456976 % 26)};
  };
  constexpr int kCount = 100000;
  std::string json = R"({"locales": {)";
  for (int i = 0; i < kCount; ++i) {
    json += (i > 0 ? ",\"" : "\"") + identifier(i) + R"(": {"system": "/m/)" + std::to_string(i) +
            "\"}";
  }
  json += "}}";
  const auto catalog = AssetCatalog::parse(json, "large.json");
  ASSERT_EQ(catalog.entries().size(), static_cast<size_t>(kCount));
  for (const int i : {0, 1, kCount / 2, kCount - 1}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(catalog.entries()[i].identifier, identifier(i));
    const CatalogEntry* found = catalog.find(identifier(i));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->system, "/m/" + std::to_string(i));
  }
}

struct Malformed {
  const char* json;
  const char* expected;
};

class MalformedCatalog : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedCatalog, IsRefusedNamingTheFileAndTheProblem) {
  EXPECT_THAT(
      [this] { AssetCatalog::parse(GetParam().json, "/etc/catalog.json"); },
      ThrowsMessage<PlatformError>(AllOf(HasSubstr("Asset catalog /etc/catalog.json is not usable"),
                                         HasSubstr(GetParam().expected))));
}

const Malformed kMalformed[] = {
    {"", "not valid JSON"},
    {"{\"locales\": {", "not valid JSON"},
    {"[]", "top level must be an object"},
    {"{}", "no \"locales\" object"},
    {"{\"locales\": []}", "\"locales\" must be an object"},
    {"{\"locales\": {\"en_US\": 3}}", "locale \"en_US\": the entry must be an object"},
    {"{\"locales\": {\"en_US\": {\"system\": 3}}}", "\"system\" must be a string"},
    {"{\"locales\": {\"en_US\": {\"system\": \"relative/dir\"}}}", "absolute directory"},
    {"{\"locales\": {\"en_US\": {\"archive\": \"http://x/a.tar.gz\"}}}", "needs its \"sha256\""},
    {"{\"locales\": {\"en_US\": {\"archive\": 1, \"sha256\": \"\"}}}",
     "\"archive\" must be a string"},
    {"{\"locales\": {\"en_US\": {\"sha256\": \"abc\"}}}", "64 hexadecimal digits"},
    {"{\"locales\": {\"en_US\": {\"size\": -1}}}", "non-negative whole number"},
    {"{\"locales\": {\"en_US\": {\"size\": \"12\"}}}", "non-negative whole number"},
    {"{\"locales\": {\"en_US\": {\"size\": 1.5}}}", "non-negative whole number"},
    {"{\"locales\": {\"en_US\": {\"model\": \"en-us\"}}}", "\"model\" must be an object"},
    {"{\"locales\": {\"en_US\": {\"model\": {\"language\": 7}}}}", "\"language\" must be a"},
    {"{\"locales\": {\"en_US\": {\"model\": {\"dictionary\": \"../etc/passwd\"}}}}",
     "inside the model directory"},
    {"{\"locales\": {\"en_US\": {\"model\": {\"acoustic\": \"/abs\"}}}}",
     "inside the model directory"},
    {"{\"locales\": {\"en_US\": {\"installedSize\": -5}}}",
     "\"installedSize\" must be a non-negative whole number"},
    {"{\"locales\": {\"en_US\": {\"installedSize\": \"1 GB\"}}}",
     "\"installedSize\" must be a non-negative whole number"},
    {"{\"locales\": {\"../en\": {}}}", "locale \"../en\": the key is not a locale identifier"},
    {"{\"locales\": {\"\": {}}}", "the key is not a locale identifier"},
    {"{\"locales\": {\"english\": {}}}", "the key is not a locale identifier"},
    {"{\"locales\": {\"en-us\": {}, \"de_DE\": {}, \"en_US\": {}}}",
     "the keys \"en-us\" and \"en_US\" both name the locale en_US"},
    {"{\"locales\": {\"de_DE\": {}, \"de_DE\": {}}}", "both name the locale de_DE"},
    // A NUL would cut a path short where it reaches the system, and an error description
    // where it reaches the host.
    {"{\"locales\": {\"en\\u0000US\": {}}}", "locale \"en\\u0000US\": the key holds a NUL"},
    {"{\"locales\": {\"en_US\": {\"system\": \"/opt/m\\u0000/x\"}}}",
     "\"system\" holds a NUL character"},
    {"{\"locales\": {\"en_US\": {\"archive\": \"http://x/a\\u0000.tar.gz\"}}}",
     "\"archive\" holds a NUL character"},
    {"{\"locales\": {\"en_US\": {\"sha256\": \"\\u0000\"}}}", "\"sha256\" holds a NUL"},
    {"{\"locales\": {\"en_US\": {\"model\": {\"language\": \"lm\\u0000.bin\"}}}}",
     "\"language\" holds a NUL character"},
};
INSTANTIATE_TEST_SUITE_P(, MalformedCatalog, ::testing::ValuesIn(kMalformed),
                         ondevice::testing::numberedBy<&Malformed::json>);

class CatalogEnvironmentTest : public ::testing::Test {
 protected:
  void useCatalog(const std::string& path) {
    environment_.set("ONDEVICE_STT_CATALOG", path.c_str());
  }
  ondevice::testing::EnvironmentScope environment_;
  ondevice::testing::ScratchDirectory scratch_;
};

TEST_F(CatalogEnvironmentTest, TheNamedFileReplacesTheBuiltInCatalog) {
  const auto file = scratch_.path() / "catalog.json";
  assets::CatalogLine line;
  line.identifier = "de_DE";
  line.archive = "http://x/de";
  line.sha256 = kDigest;
  ondevice::testing::writeText(file, assets::catalogJson({line}));
  useCatalog(file);
  const auto catalog = AssetCatalog::load(PlatformSettings::fromEnvironment().catalogFile);
  ASSERT_EQ(catalog.entries().size(), 1u);
  EXPECT_EQ(catalog.entries()[0].identifier, "de_DE");
  EXPECT_EQ(catalog.find("en_US"), nullptr);

  useCatalog("");  // empty counts as unset
  EXPECT_NE(AssetCatalog::load(PlatformSettings::fromEnvironment().catalogFile).find("en_US"),
            nullptr);
}

// A valid catalog padded with blanks to exactly the cap loads; one byte more is refused.
TEST_F(CatalogEnvironmentTest, AFileLargerThanTheCapIsRefusedUnread) {
  const auto file = scratch_.path() / "catalog.json";
  const std::string catalog = R"({"locales": {"de_DE": {}}})";
  ondevice::testing::writeText(
      file, catalog + std::string(AssetCatalog::kMaximumFileSize - catalog.size(), ' '));
  useCatalog(file);
  EXPECT_NE(AssetCatalog::load(PlatformSettings::fromEnvironment().catalogFile).find("de_DE"),
            nullptr);

  ondevice::testing::writeText(
      file, catalog + std::string(AssetCatalog::kMaximumFileSize + 1 - catalog.size(), ' '));
  EXPECT_THAT([] { AssetCatalog::load(PlatformSettings::fromEnvironment().catalogFile); },
              ThrowsMessage<PlatformError>(
                  StrEq("Asset catalog " + file.string() +
                        " is not usable: it is larger than the 4 MiB a catalog may hold")));
}

TEST_F(CatalogEnvironmentTest, AFileThatCannotBeReadIsAClearError) {
  const struct {
    std::string path;
    const char* expected;
  } cases[] = {
      {(scratch_.path() / "missing.json").string(), "cannot be read (No such file or directory)"},
      {scratch_.path().string(), "cannot be read (Is a directory)"},
  };
  for (const auto& c : cases) {
    useCatalog(c.path);
    EXPECT_THAT([] { AssetCatalog::load(PlatformSettings::fromEnvironment().catalogFile); },
                ThrowsMessage<PlatformError>(
                    StrEq("Asset catalog " + c.path + " is not usable: " + c.expected)));
  }
}

}  // namespace
}  // namespace ondevice::platform
