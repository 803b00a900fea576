#include "core/progress_sender.h"

#include <gtest/gtest.h>

#include "tests/core/fakes.h"
#include "tests/support/fake_clock.h"

namespace CustomInstaller::Utils {
namespace {

using TestSupport::CFakeClock;
using Testing::CRecordingProgress;

TEST(ProgressSenderTest, ClosesThreePercentOfTheGapEachIntervalAndEndsAtTheMaximum) {
  auto page = std::make_shared<CRecordingProgress>();
  auto clock = std::make_shared<CFakeClock>(4);
  CProgressSender sender(page, 50.0f, 97.0f, 300, 0.03f, clock);
  sender.Begin();
  ASSERT_TRUE(clock->held.Wait());
  sender.End();

  const auto values = page->Values();
  ASSERT_EQ(values.size(), 4u);
  EXPECT_FLOAT_EQ(values[0], 51.41f);
  EXPECT_FLOAT_EQ(values[1], 52.7777f);
  EXPECT_FLOAT_EQ(values[2], 54.104369f);
  EXPECT_EQ(values[3], 97.0f);
  EXPECT_EQ(clock->Sleeps(), (std::vector<uint64_t>{300, 300, 300, 300}));
}

TEST(ProgressSenderTest, BoundsOutsideTheRangeReportOnlyTheMaximumAtTheEnd) {
  for (const auto& [start, maximum] : {std::pair{98.0f, 97.0f}, {-1.0f, 97.0f}, {0.0f, 0.0f}}) {
    auto page = std::make_shared<CRecordingProgress>();
    CProgressSender sender(page, start, maximum, 300, 0.03f, std::make_shared<CFakeClock>(101));
    sender.Begin();
    sender.End();
    EXPECT_EQ(page->Values(), std::vector<float>{maximum}) << start << " " << maximum;
  }
}

TEST(ProgressSenderTest, APageThatIsGoneGetsNothingAndTheThreadStillStops) {
  auto page = std::make_shared<CRecordingProgress>();
  auto clock = std::make_shared<CFakeClock>(2);
  CProgressSender sender(page, 50.0f, 97.0f, 300, 0.03f, clock);
  sender.Begin();
  ASSERT_TRUE(clock->held.Wait());
  const auto seen = page->Values();
  page.reset();
  sender.End();  // returns: the thread was stopped although there is no one to tell
  EXPECT_EQ(seen.size(), 1u);
}

TEST(ProgressSenderTest, DestroyedWithoutEndStopsTheThreadWithoutAReport) {
  auto page = std::make_shared<CRecordingProgress>();
  auto clock = std::make_shared<CFakeClock>(1);
  {
    CProgressSender sender(page, 50.0f, 97.0f, 300, 0.03f, clock);
    sender.Begin();
    ASSERT_TRUE(clock->held.Wait());
  }
  EXPECT_TRUE(page->Values().empty());
}

}  // namespace
}  // namespace CustomInstaller::Utils
