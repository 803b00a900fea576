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

TEST(OperationThreadTest, StartReturnsOnceTheWorkerRuns) {
  // Start returns after the worker's start signal, which comes just before the operation's
  // first statement: the operation is under way, not necessarily past its first line.
  boost::latch entered(1);
  boost::latch release(1);
  COperationThread thread;  // after the latches, so it is joined before they go
  thread.Start([&] {
    entered.count_down();
    release.wait();
  });
  EXPECT_FALSE(thread.Wait(0));
  entered.wait();
  release.count_down();
  EXPECT_TRUE(thread.Wait(-1));
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

}  // namespace
}  // namespace Cxx::Core::Utils
