#include "metrics/hits.h"

#include <gtest/gtest.h>

#include <climits>

#include "metrics/analytics_config.h"

namespace AppMetrics {
namespace {

const Platform::SystemVersion kWindows10x64{true, 10, 0, true};
const Platform::SystemVersion kWindows7x86{true, 6, 1, false};

TEST(ClientIdTest, NormalisesThirtyTwoHexDigitsAndRejectsTheRest) {
  struct Case {
    const char* input;
    const char* expected;  // nullptr: invalid
  };
  const Case cases[] = {
      {"0123456789abcdef0123456789ABCDEF", "01234567-89ab-cdef-0123-456789ABCDEF"},
      {"01234567-89ab-cdef-0123-456789ABCDEF", "01234567-89ab-cdef-0123-456789ABCDEF"},
      {"-0123-456789abcdef0123456789ABCDEF--", "01234567-89ab-cdef-0123-456789ABCDEF"},
      {"0123456789abcdef0123456789ABCDE", nullptr},    // 31
      {"0123456789abcdef0123456789ABCDEF0", nullptr},  // 33
      {"0123456789abcdef0123456789ABCDEg", nullptr},
      {"", nullptr},
      {"--------------------------------", nullptr},
  };
  for (const auto& c : cases) {
    std::string out = "unchanged";
    EXPECT_EQ(NormalizeClientId(c.input, out), c.expected != nullptr) << c.input;
    EXPECT_EQ(out, c.expected ? c.expected : "unchanged") << c.input;
  }
}

TEST(ConfigTest, ValidityUserAgentAndLanguage) {
  const CGoogleAnalyticsConfig good("UA-1-1", "0123456789abcdef0123456789ABCDEF", "1", "App", "",
                                    "OMK", kWindows10x64);
  EXPECT_TRUE(good.IsValid());
  EXPECT_EQ(good.GetUserLanguage(), "not-set");
  EXPECT_EQ(good.GetUserAgent(), "10.0_64bit (Linux 10.0; WOW64)");

  const char* id = "0123456789abcdef0123456789ABCDEF";
  EXPECT_FALSE(CGoogleAnalyticsConfig("", id, "1", "App", "en", "OMK", kWindows10x64).IsValid());
  EXPECT_FALSE(CGoogleAnalyticsConfig("UA-1-1", id, "", "App", "en", "OMK", kWindows10x64).IsValid());
  EXPECT_FALSE(CGoogleAnalyticsConfig("UA-1-1", id, "1", "", "en", "OMK", kWindows10x64).IsValid());
  EXPECT_FALSE(CGoogleAnalyticsConfig("UA-1-1", "abc", "1", "App", "en", "OMK", kWindows10x64).IsValid());
  EXPECT_TRUE(CGoogleAnalyticsConfig("UA-1-1", id, "1", "App", "en", "", kWindows10x64).IsValid());

  EXPECT_EQ(BuildUserAgent(kWindows7x86), "6.1_32bit (Linux 6.1; WOW32)");
  EXPECT_EQ(BuildUserAgent(Platform::SystemVersion{}), "Unknown");
}

TEST(HitsTest, DayBuckets) {
  const std::pair<int32_t, const char*> cases[] = {
      {0, "0"},          {1, "1"},          {7, "7"},          {8, "8-14"},     {14, "8-14"},
      {15, "15-29"},     {29, "15-29"},     {30, "30-44"},     {45, "45-59"},   {60, "60-89"},
      {90, "90-119"},    {120, "120-179"},  {180, "180-269"},  {269, "180-269"}, {270, "270-364"},
      {364, "270-364"},  {365, "365-729"},  {729, "365-729"},  {730, "730"},    {100000, "730"},
      {-1, "730"},       {INT32_MIN, "730"},
  };
  for (const auto& [days, bucket] : cases) EXPECT_EQ(DaysSinceInstallBucket(days), bucket) << days;
}

TEST(HitsTest, ExceptionDescriptionAndFatalFlag) {
  struct Case {
    CExceptionData data;
    Platform::SystemVersion system;
    std::wstring exd;
    std::wstring exf;
  };
  const Case cases[] = {
      {{"", "ID6_", 0x2EFD, 2}, kWindows10x64, L"ID6_2efd_10.0", L"1"},
      {{"", "ID6_", 0x2EFD, 1}, kWindows10x64, L"ID6_2efd_10.0", L"0"},
      {{"", "ID6_", 0, 2}, kWindows7x86, L"ID6__6.1L", L"1"},
      {{"timeout", "IJ", 1, 2}, kWindows10x64, L"IJ1_10.0_timeout", L"1"},
      {{"x", "", 0xFFFFFFFF, 1}, kWindows10x64, L"ffffffff_10.0_x", L"0"},
      {{"", "", 0, 0}, kWindows10x64, L"10.0", L"0"},
      // "%", "&", "=", "+", blanks and non-ASCII bytes are escaped; safe punctuation is not.
      {{"a b&c=d+e%f", "ID(1):", 0, 1}, kWindows10x64, L"ID(1):_10.0_a%20b%26c%3Dd%2Be%25f", L"0"},
      {{"\xC3\xA9", "", 0, 1}, kWindows10x64, L"10.0_%C3%A9", L"0"},
  };
  for (const auto& c : cases) {
    const CHit hit = MakeExceptionHit(c.data, c.system);
    const CHitParameters expected = {{L"t", L"exception"}, {L"exd", c.exd}, {L"exf", c.exf}};
    EXPECT_EQ(hit.parameters, expected) << c.data.description << c.data.details;
  }
  // A crash also ends the session.
  const CHit crash = MakeExceptionHit({"stack", "C", 0, 3}, kWindows10x64);
  ASSERT_EQ(crash.parameters.size(), 4u);
  EXPECT_EQ(crash.parameters[2].second, L"1");
  EXPECT_EQ(crash.parameters[3], (std::pair<std::wstring, std::wstring>{L"sc", L"end"}));
}

TEST(HitsTest, ExceptionTextIsCutAt150AfterEscaping) {
  // "10.0_" is 5 characters; 48 blanks become 144 characters of "%20": 149 in all, so the cut
  // at 150 leaves the first character of the next escape.
  const CHit hit = MakeExceptionHit({std::string(48, ' ') + "&", "", 0, 1}, kWindows10x64);
  const std::wstring exd = hit.parameters[1].second;
  ASSERT_EQ(exd.size(), 150u);
  EXPECT_EQ(exd.substr(0, 8), L"10.0_%20");
  EXPECT_EQ(exd.substr(146), L"%20%");
  // Short texts are not cut.
  EXPECT_EQ(MakeExceptionHit({std::string(145, 'a'), "", 0, 1}, kWindows10x64).parameters[1].second.size(), 150u);
  EXPECT_EQ(MakeExceptionHit({std::string(144, 'a'), "", 0, 1}, kWindows10x64).parameters[1].second.size(), 149u);
}

TEST(HitsTest, StartTypeNamesAndCrashDetails) {
  EXPECT_EQ(ApplicationStartTypeName(AST_Unspecified), "AST_Unspecified");
  EXPECT_EQ(ApplicationStartTypeName(AST_Manual), "AST_Manual");
  EXPECT_EQ(ApplicationStartTypeName(AST_SystemStartup), "AST_SystemStartup");
  EXPECT_EQ(ApplicationStartTypeName(AST_FirstStartAfterInstall), "AST_FirstStartAfterInstall");
  EXPECT_EQ(ApplicationStartTypeName(4), "AST_Unspecified");
  EXPECT_EQ(ApplicationStartTypeName(-1), "AST_Unspecified");

  EXPECT_EQ(CondenseCrashDetails("  at app.Module.Run$1(int) line 3\n\n#2 0x7f in ns::Load*(void)\r\nmain"),
            "Run1-ns::Load@-main");
  EXPECT_EQ(CondenseCrashDetails(""), "");
}

}  // namespace
}  // namespace AppMetrics
