#include "metrics/hit_rate_limiter.h"

#include <gtest/gtest.h>

#include "tests/metrics/fakes.h"

namespace AppMetrics {
namespace {

using Testing::CFakeClock;

TEST(HitRateLimiterTest, BurstOfSixtyThenOneHitPerTwoSeconds) {
  auto clock = std::make_shared<CFakeClock>();
  CHitRateLimiter limiter(clock);
  for (int i = 0; i < 60; ++i) ASSERT_TRUE(limiter.Acquire()) << i;
  EXPECT_TRUE(clock->Sleeps().empty());

  EXPECT_TRUE(limiter.Acquire());  // the 61st waits for the next token
  EXPECT_EQ(clock->Sleeps(), std::vector<uint64_t>{2000});

  // Time that passed counts: 1.5 s later only the rest of the interval is slept.
  clock->ClearSleeps();
  clock->Advance(1500);
  EXPECT_TRUE(limiter.Acquire());
  EXPECT_EQ(clock->Sleeps(), std::vector<uint64_t>{500});

  // A long quiet spell refills the bucket.
  clock->ClearSleeps();
  clock->Advance(20000);
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(limiter.Acquire());
  EXPECT_TRUE(clock->Sleeps().empty());
}

TEST(HitRateLimiterTest, BudgetOf497AndReset) {
  auto clock = std::make_shared<CFakeClock>();
  CHitRateLimiter limiter(clock);
  EXPECT_EQ(limiter.GetRemaining(), 497u);
  for (int i = 0; i < 497; ++i) ASSERT_TRUE(limiter.Acquire()) << i;
  EXPECT_EQ(limiter.GetRemaining(), 0u);
  const size_t sleeps = clock->Sleeps().size();
  EXPECT_FALSE(limiter.Acquire());
  EXPECT_EQ(clock->Sleeps().size(), sleeps);  // a refusal does not wait

  limiter.Reset();
  EXPECT_EQ(limiter.GetRemaining(), 497u);
  clock->ClearSleeps();
  for (int i = 0; i < 60; ++i) ASSERT_TRUE(limiter.Acquire());
  EXPECT_TRUE(clock->Sleeps().empty());
}

}  // namespace
}  // namespace AppMetrics
