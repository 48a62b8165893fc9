#include "platform/light/locale_identifier.h"

#include <gtest/gtest.h>

#include "tests/support/case_name.h"

namespace ondevice::platform {
namespace {

struct Parse {
  std::string text;
  std::optional<std::string> identifier;
};

class LocaleIdentifierParse : public ::testing::TestWithParam<Parse> {};

TEST_P(LocaleIdentifierParse, ReadsPosixAndBcp47Forms) {
  const auto parsed = parseLocaleIdentifier(GetParam().text);
  EXPECT_EQ(parsed ? std::optional(parsed->identifier()) : std::nullopt, GetParam().identifier);
}

const Parse kParses[] = {
    {"en_US", "en_US"},
    {"en-US", "en_US"},
    {"en_us", "en_US"},
    {"EN-us", "en_US"},
    {"en_US.UTF-8", "en_US"},
    {"en_US@euro", "en_US"},
    {"en_US.UTF-8@euro", "en_US"},
    {"en", "en"},
    {"zh-hant-tw", "zh_Hant_TW"},
    {"es-419", "es_419"},
    {"en-Latn-US", "en_Latn_US"},
    {"", std::nullopt},
    {"en_US ", std::nullopt},
    {" en_US", std::nullopt},
    {"e", std::nullopt},
    {"english", std::nullopt},
    {"en_USA", std::nullopt},
    {"en__US", std::nullopt},
    {"en_US.", std::nullopt},
    {"en_US@", std::nullopt},
    {"en-US-x-private", std::nullopt},
    {"en_U$", std::nullopt},
    {"é_US", std::nullopt},
};
INSTANTIATE_TEST_SUITE_P(, LocaleIdentifierParse, ::testing::ValuesIn(kParses),
                         testing::numberedBy<&Parse::text>);

struct Equivalent {
  std::string text;
  std::string entry;  // "" for none
};

class LocaleIdentifierEquivalent : public ::testing::TestWithParam<Equivalent> {};

TEST_P(LocaleIdentifierEquivalent, FindsTheCatalogEntry) {
  // Less specific entries first, so that only a search for the exact entry finds the others.
  const AssetCatalog catalog = AssetCatalog::parse(
      R"({"locales": {"en_US": {"system": "/x"}, "en_GB": {"system": "/y"},
                      "sr_RS": {"system": "/s"}, "sr_Latn_RS": {"system": "/l"},
                      "sr_Cyrl_ME": {"system": "/m"},
                      "zh_CN": {"system": "/c"}, "zh_Hant_TW": {"system": "/z"},
                      "de_DE": {"system": "/d"}, "ru_RU": {"system": "/r"},
                      "qaa_AQ": {"system": "/q"}, "qab_Latn_AQ": {"system": "/b"}}})",
      "test catalog");
  const auto parsed = parseLocaleIdentifier(GetParam().text);
  const CatalogEntry* entry = parsed ? equivalentCatalogEntry(*parsed, catalog) : nullptr;
  EXPECT_EQ(entry ? entry->identifier : "", GetParam().entry);
}

const Equivalent kEquivalents[] = {
    {"en_US", "en_US"},
    {"en-US", "en_US"},
    {"en_us", "en_US"},
    {"EN-us", "en_US"},
    {"en_US.UTF-8", "en_US"},
    {"en", "en_US"},  // the first entry of the language
    {"en-GB", "en_GB"},
    {"en-Latn-US", "en_US"},
    {"de_DE", "de_DE"},
    {"en_AU", ""},
    {"", ""},
    {"en_US ", ""},
    // The exact entry before a less specific one; a script, named or implied by the region,
    // is never crossed.
    {"sr_Latn_RS", "sr_Latn_RS"},
    {"sr-latn-rs", "sr_Latn_RS"},
    {"sr_RS", "sr_RS"},
    {"sr_Cyrl_RS", "sr_RS"},
    {"sr-Latn", "sr_Latn_RS"},
    {"sr", "sr_RS"},
    {"sr_ME", ""},
    {"sr_Latn_ME", ""},
    {"sr_Cyrl_ME", "sr_Cyrl_ME"},
    {"zh-Hant", "zh_Hant_TW"},
    {"zh-TW", "zh_Hant_TW"},
    {"zh_Hant_TW", "zh_Hant_TW"},
    {"zh-Hans", "zh_CN"},
    {"zh-Hans-CN", "zh_CN"},
    {"zh", "zh_CN"},
    {"zh-Hans-TW", ""},
    {"zh-Hant-CN", ""},
    {"zh_HK", ""},
    // A stated script must be the entry's for every language, also those written in one.
    {"en-Cyrl-US", ""},
    {"en-Arab", ""},
    {"EN-cyrl", ""},
    {"de-Latn-DE", "de_DE"},
    {"de-Cyrl-DE", ""},
    {"ru-Cyrl", "ru_RU"},
    {"ru-Latn-RU", ""},
    // A language whose script is unknown (here, a private-use code) matches a stated script
    // only where its entry states the same one.
    {"qaa-AQ", "qaa_AQ"},
    {"qaa-Latn-AQ", ""},
    {"qab-AQ", "qab_Latn_AQ"},
    {"qab-Latn", "qab_Latn_AQ"},
    {"qab-Cyrl-AQ", ""},
};
INSTANTIATE_TEST_SUITE_P(, LocaleIdentifierEquivalent, ::testing::ValuesIn(kEquivalents),
                         testing::numberedBy<&Equivalent::text>);

TEST(LocaleIdentifier, BuiltInCatalogResolvesEnglishOnly) {
  const AssetCatalog catalog = AssetCatalog::builtIn();
  for (const std::string text : {"en_US", "en-US", "en_us", "EN-us", "en_US.UTF-8", "en"}) {
    const auto parsed = parseLocaleIdentifier(text);
    ASSERT_TRUE(parsed) << text;
    const CatalogEntry* entry = equivalentCatalogEntry(*parsed, catalog);
    ASSERT_NE(entry, nullptr) << text;
    EXPECT_EQ(entry->identifier, "en_US");
  }
  for (const std::string text : {"en_GB", "de_DE", "", "en_US "}) {
    const auto parsed = parseLocaleIdentifier(text);
    EXPECT_TRUE(!parsed || equivalentCatalogEntry(*parsed, catalog) == nullptr) << text;
  }
}

}  // namespace
}  // namespace ondevice::platform
