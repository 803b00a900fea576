#pragma once
// Simulated time for the code's waits: time moves only through the code's own sleeps (and
// Advance), and a chosen sleep can hold the sleeping thread until it is interrupted.
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include <boost/chrono.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include "platform/clock.h"
#include "tests/support/event.h"

namespace TestSupport {

class CFakeClock final : public Platform::IClock {
 public:
  // Sleep number `holdAt` (1-based; 0: none) waits until the sleeping thread is interrupted;
  // `held` is set when it starts waiting. A sleep made with interruption disabled never holds.
  explicit CFakeClock(size_t holdAt = 0) : m_holdAt(holdAt) {}

  // Called after each sleep that returned, with the number of sleeps so far (set before the
  // clock is used).
  std::function<void(size_t)> onSleep;
  // Called when a WaitUntil begins (its deadline already fixed), with the number of such waits
  // so far (set before the clock is used); it may Advance the clock.
  std::function<void(size_t)> onWait;
  Event held;

  uint64_t NowMilliseconds() override { return m_now.load(); }
  boost::posix_time::ptime UtcNow() override {
    return boost::posix_time::ptime(boost::gregorian::date(2024, 1, 1)) +
           boost::posix_time::milliseconds(static_cast<int64_t>(m_now.load()));
  }
  void Sleep(uint64_t milliseconds) override {
    const bool interruptible = boost::this_thread::interruption_enabled();
    size_t count = 0;
    boost::unique_lock lock(m_mutex);
    // Recorded first: a sleep interrupted at once still counts as one the code made.
    m_sleeps.push_back({milliseconds, interruptible});
    count = m_sleeps.size();
    lock.unlock();
    boost::this_thread::interruption_point();
    lock.lock();
    if (count == m_holdAt && interruptible) {
      held.Set();
      for (;;) m_condition.wait(lock);  // ends only by interruption
    }
    lock.unlock();
    m_now += milliseconds;
    if (onSleep) onSleep(count);
  }
  // Waits for the condition; the deadline is reached only through sleeps of other threads, so
  // the short real wait only rechecks the simulated time.
  bool WaitUntil(boost::unique_lock<boost::mutex>& lock, boost::condition_variable& condition,
                 uint64_t deadline, const std::function<bool()>& done) override {
    const size_t waits = ++m_waits;
    if (onWait) onWait(waits);
    while (!done()) {
      if (m_now.load() >= deadline) return false;
      condition.wait_for(lock, boost::chrono::milliseconds(1));
    }
    return true;
  }

  void Advance(uint64_t milliseconds) { m_now += milliseconds; }
  // Every sleep so far, held ones included.
  std::vector<uint64_t> Sleeps() { return Select([](const Slept&) { return true; }); }
  // The sleeps made with interruption disabled.
  std::vector<uint64_t> PlainSleeps() { return Select([](const Slept& s) { return !s.interruptible; }); }
  void ClearSleeps() {
    boost::unique_lock lock(m_mutex);
    m_sleeps.clear();
  }

 private:
  struct Slept {
    uint64_t milliseconds;
    bool interruptible;
  };
  template <typename Pred>
  std::vector<uint64_t> Select(Pred pred) {
    boost::unique_lock lock(m_mutex);
    std::vector<uint64_t> out;
    for (const auto& s : m_sleeps) {
      if (pred(s)) out.push_back(s.milliseconds);
    }
    return out;
  }

  size_t m_holdAt;
  std::atomic<uint64_t> m_now{1'000'000};
  std::atomic<size_t> m_waits{0};
  boost::mutex m_mutex;
  boost::condition_variable m_condition;
  std::vector<Slept> m_sleeps;
};

}  // namespace TestSupport
