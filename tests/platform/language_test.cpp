#include "platform/language.h"

#include <gtest/gtest.h>

#include "tests/support/env.h"

namespace Platform {
namespace {

TEST(LanguageTest, LocaleNamesToLanguageIds) {
  const std::pair<const char*, uint16_t> cases[] = {
      {"de_DE.UTF-8", 0x0407}, {"de", 0x0407}, {"fr_CA@euro", 0x040c}, {"pt_BR.UTF-8", 0x0416},
      {"nb_NO", 0x0414},       {"nn", 0x0414}, {"zh_TW.UTF-8", 0x0404}, {"EN_us", 0x0409},
      {"C", 0x0409},           {"POSIX", 0x0409}, {"C.UTF-8", 0x0409}, {"", 0x0409},
      {"xx_YY", 0},            {"fil_PH", 0},
  };
  for (const auto& [locale, id] : cases) EXPECT_EQ(LanguageIdFromLocale(locale), id) << locale;
}

TEST(LanguageTest, EnvironmentPrecedence) {
  TestSupport::ScopedEnv env;
  env.Set("LC_ALL", "sv_SE").Set("LC_MESSAGES", "fi_FI").Set("LANG", "ja_JP");
  EXPECT_EQ(GetUserDefaultUILanguage(), 0x041d);
  env.Set("LC_ALL", "");
  EXPECT_EQ(GetUserDefaultUILanguage(), 0x040b);
  env.Set("LC_MESSAGES", std::nullopt);
  EXPECT_EQ(GetUserDefaultUILanguage(), 0x0411);
  env.Set("LANG", std::nullopt);
  EXPECT_EQ(GetUserDefaultUILanguage(), 0x0409);
}

}  // namespace
}  // namespace Platform
