#include "core/installer_options.h"

#include <gtest/gtest.h>

#include "tests/support/env.h"

namespace CustomInstaller {
namespace {

using TestSupport::ScopedEnv;

TEST(LanguageTableTest, PrimaryLanguageMapsToCode) {
  const std::pair<uint16_t, const wchar_t*> cases[] = {
      {0x0406, L"da"}, {0x0407, L"de"}, {0x0c07, L"de"}, {0x0409, L"en"}, {0x0809, L"en"},
      {0x040a, L"es"}, {0x040b, L"fi"}, {0x040c, L"fr"}, {0x0410, L"it"}, {0x0411, L"ja"},
      {0x0413, L"nl"}, {0x0414, L"no"}, {0x0814, L"no"}, {0x0416, L"pt-br"}, {0x0816, L"pt-br"},
      {0x0419, L"ru"}, {0x041d, L"sv"}, {0x041f, L"tr"},
      // Chinese, Traditional Chinese's full identifier, Polish, neutral: not in the table.
      {0x0804, L"en"}, {0x0404, L"en"}, {0x7C04, L"en"}, {0x0415, L"en"}, {0x0000, L"en"},
  };
  for (const auto& [langId, code] : cases) {
    EXPECT_EQ(LanguageCodeFromLangId(langId), code) << std::hex << langId;
  }
}

TEST(InstallerOptionsTest, DefaultsWhenAbsentOrEmpty) {
  ScopedEnv env;
  env.Set("LC_ALL", "de_DE.UTF-8");
  for (const wchar_t* text : {L"", L"/BUILD_ID= /LANG= /DELAY= /LAUNCHDELAY="}) {
    const InstallerOptions options(text);
    EXPECT_EQ(options.buildId, L"0");
    EXPECT_EQ(options.tracking, L"");
    EXPECT_EQ(options.source, L"");
    EXPECT_EQ(options.language, L"de");
    EXPECT_EQ(options.delay, 0u);
    EXPECT_EQ(options.launchDelay, 0u);
    EXPECT_FALSE(options.silent || options.verySilent || options.disablePostPages || options.update);
  }
}

TEST(InstallerOptionsTest, ReadsEveryOption) {
  const InstallerOptions options(
      L"/BUILD_ID=77 /TRACKING=\"t k\" /OSOURCE src /LANG fr /DELAY=\"10\" /LAUNCHDELAY 3 "
      L"/S /VS /DISABLEPOSTPAGES /UPDATE");
  EXPECT_EQ(options.buildId, L"77");
  EXPECT_EQ(options.tracking, L"t k");
  EXPECT_EQ(options.source, L"src");
  EXPECT_EQ(options.language, L"fr");
  EXPECT_EQ(options.delay, 10u);
  EXPECT_EQ(options.launchDelay, 3u);
  EXPECT_TRUE(options.silent && options.verySilent && options.disablePostPages && options.update);
}

TEST(InstallerOptionsTest, DelayValues) {
  const std::pair<const wchar_t*, uint32_t> cases[] = {
      {L"/DELAY=\"10\"", 10}, {L"/DELAY=10s", 0}, {L"/DELAY=\"-3\"", 0}, {L"/DELAY=-3", 0},
      {L"/DELAY=\" 10\"", 0}, {L"/DELAY 5 /DELAY 9", 5},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(InstallerOptions(text).delay, expected) << std::string(text, text + wcslen(text));
  }
}

TEST(InstallerOptionsTest, LowerCaseFlagsSetNothing) {
  const InstallerOptions options(L"/s /vs /update");
  EXPECT_FALSE(options.silent || options.verySilent || options.update);
}

TEST(InstallerOptionsTest, EmptyLanguageFollowsTheInterfaceLanguage) {
  const std::pair<const char*, const wchar_t*> cases[] = {
      {"de_DE.UTF-8", L"de"}, {"zh_TW.UTF-8", L"en"}, {"zh_CN", L"en"}, {"pt_PT", L"pt-br"},
      {"nb_NO.UTF-8", L"no"}, {"C", L"en"}, {"pl_PL", L"en"},
  };
  for (const auto& [locale, code] : cases) {
    ScopedEnv env;
    env.Set("LC_ALL", locale);
    EXPECT_EQ(InstallerOptions(L"/LANG=").language, code) << locale;
  }
}

TEST(InstallationDetailsTest, CopiesOptionsAndFillsLazyFields) {
  InstallerOptions options(L"/BUILD_ID=5 /TRACKING=t /OSOURCE=s /LANG=ja /LAUNCHDELAY=\"-2\"");
  options.buildId.clear();  // a record built by hand may hold an empty build id
  InstallationDetails details(options);
  EXPECT_EQ(details.GetBuildId(), L"0");
  EXPECT_EQ(details.GetTracking(), L"t");
  EXPECT_EQ(details.GetSource(), L"s");
  EXPECT_EQ(details.GetLanguage(), L"ja");
  EXPECT_EQ(details.GetLaunchDelay(), 0u);
  EXPECT_EQ(details.GetVersion(), L"3.10.1.2");
}

TEST(InstallationDetailsTest, UidComesFromTheProviderOncePerCopy) {
  int calls = 0;
  InstallationDetails::SetUidProvider([&calls] {
    ++calls;
    return L"uid-" + std::to_wstring(calls);
  });
  InstallationDetails details{InstallerOptions(L"")};
  EXPECT_EQ(details.GetUid(), L"uid-1");
  EXPECT_EQ(details.GetUid(), L"uid-1");
  InstallationDetails copy = details;  // a filled copy keeps its value
  EXPECT_EQ(copy.GetUid(), L"uid-1");
  InstallationDetails other{InstallerOptions(L"")};
  EXPECT_EQ(other.GetUid(), L"uid-2");
  InstallationDetails::SetUidProvider(nullptr);
  EXPECT_EQ(InstallationDetails{InstallerOptions(L"")}.GetUid(), L"");
}

}  // namespace
}  // namespace CustomInstaller
