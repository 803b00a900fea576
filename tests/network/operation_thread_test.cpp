#include "network/operation_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <boost/thread/latch.hpp>

namespace Cxx::Core::Utils {
namespace {

TEST(OperationThreadTest, WaitOnIdleAndRunningOperations) {
  COperationThread thread;
  EXPECT_TRUE(thread.Wait(0));
  EXPECT_TRUE(thread.Wait(-1));

  boost::latch release(1);
  thread.Start([&] { release.wait(); });
  EXPECT_FALSE(thread.Wait(0));
  EXPECT_FALSE(thread.Wait(5));
  release.count_down();
  EXPECT_TRUE(thread.Wait(-1));
  EXPECT_TRUE(thread.Wait(0));
}

TEST(OperationThreadTest, RestartInterruptsAndWaitsForTheOldOperation) {
  COperationThread thread;
  std::atomic<int> order{0};
  std::atomic<int> oldEnded{0};
  thread.Start([&] {
    try {
      boost::this_thread::sleep_for(boost::chrono::hours(1));
    } catch (const boost::thread_interrupted&) {
      oldEnded = ++order;
      throw;  // dropped by the worker
    }
  });
  std::atomic<int> newStarted{0};
  thread.Start([&] { newStarted = ++order; });
  EXPECT_TRUE(thread.Wait(-1));
  EXPECT_EQ(oldEnded, 1);
  EXPECT_EQ(newStarted, 2);
}

TEST(OperationThreadTest, FailuresOfTheOperationAreDropped) {
  COperationThread thread;
  thread.Start([] { throw std::runtime_error("boom"); });
  EXPECT_TRUE(thread.Wait(-1));
  thread.Start([] { throw 42; });
  EXPECT_TRUE(thread.Wait(-1));
}

TEST(OperationThreadTest, DestructionInterruptsAndJoins) {
  std::atomic<bool> interrupted{false};
  {
    COperationThread thread;
    thread.Start([&] {
      try {
        boost::this_thread::sleep_for(boost::chrono::hours(1));
      } catch (const boost::thread_interrupted&) {
        interrupted = true;
      }
    });
  }
  EXPECT_TRUE(interrupted);
}

// The worker is known from its first instruction: an Interrupt made at once from another thread
// (here the operation's own) reaches it, so the long sleep ends and Wait returns.
TEST(OperationThreadTest, AnInterruptRightAfterTheStartReachesTheWorker) {
  COperationThread thread;
  for (int run = 0; run < 200; ++run) {
    std::atomic<bool> interrupted{false};
    thread.Start([&] {
      thread.Interrupt();
      try {
        boost::this_thread::sleep_for(boost::chrono::hours(1));
      } catch (const boost::thread_interrupted&) {
        interrupted = true;
      }
    });
    ASSERT_TRUE(thread.Wait(60000)) << "run " << run;
    EXPECT_TRUE(interrupted) << "run " << run;
  }
}

}  // namespace
}  // namespace Cxx::Core::Utils
