#include "core/ga_sender.h"

#include <gtest/gtest.h>

#include "tests/core/analytics_fixture.h"

namespace CustomInstaller::GA {
namespace {

class GASenderTest : public CustomInstaller::Testing::RecordedAnalyticsTest {};

TEST_F(GASenderTest, SendsOnlyCompleteHitsFromThePage) {
  CGASender sender;
  EXPECT_FALSE(sender.SendScreen(L""));
  EXPECT_FALSE(sender.SendEvent(L"", L"Page", L"Main", 1));
  EXPECT_FALSE(sender.SendEvent(L"Click", L"", L"Main", 1));
  EXPECT_FALSE(sender.SendEvent(L"Click", L"Page", L"", 1));
  EXPECT_TRUE(sender.SendScreen(L"Main"));
  EXPECT_TRUE(sender.SendEvent(L"Click", L"Page", L"Main", 7));
  EXPECT_TRUE(sender.SendEvent(L"Click", L"Page", L"Main", -1));
  EXPECT_EQ(Hits(), (std::vector<std::string>{"t=screenview&cd=Main", "t=event&ec=Page&ea=Click&ev=7&cd=Main",
                                              "t=event&ec=Page&ea=Click&cd=Main"}));
}

}  // namespace
}  // namespace CustomInstaller::GA
