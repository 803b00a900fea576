#include "platform/command_line.h"

#include <gtest/gtest.h>


namespace Platform {
namespace {

TEST(CommandLineTextTest, QuotesArgumentsWithWhiteSpace) {
  const std::pair<std::vector<std::wstring>, std::wstring> cases[] = {
      {{}, L""},
      {{L"/S", L"/BUILD_ID=12"}, L"/S /BUILD_ID=12"},
      {{L"/TRACKING=a b"}, L"/TRACKING=\"a b\""},
      {{L"/TRACKING", L"a b"}, L"/TRACKING \"a b\""},
      {{L"/TRACKING=\"a b\""}, L"/TRACKING=\"a b\""},
      {{L"/TRACKING", L""}, L"/TRACKING \"\""},
      {{L"-extractTrackingUID=/tmp/my dir/x"}, L"-extractTrackingUID=\"/tmp/my dir/x\""},
      {{L"/A=\ttab"}, L"/A=\"\ttab\""},
      {{L"-extractTrackingUID=/tmp/x"}, L"-extractTrackingUID=\"/tmp/x\""},
      {{L"/DELAY=-5"}, L"/DELAY=\"-5\""},
      {{L"/S", L"/VS", L"-5"}, L"/S /VS -5"},
      {{L"/BUILD_ID="}, L"/BUILD_ID="},
  };
  for (const auto& [args, text] : cases) EXPECT_EQ(JoinCommandLine(args), text);
}

TEST(CommandLineTextTest, InvalidUtf8IsReplacedNotFatal) {
  const char* argv[] = {"omk-setup", "/TRACKING=\xFF\xFE", "\xC0", nullptr};
  EXPECT_EQ(GetCommandLineText(3, argv), L"/TRACKING=\uFFFD\uFFFD \uFFFD");
}

}  // namespace
}  // namespace Platform
