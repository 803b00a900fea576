#pragma once
// A simulated clock and a recording collector for the analytics sender's tests.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/chrono.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "metrics/clock.h"
#include "metrics/collector.h"
#include "network/parameters.h"

namespace AppMetrics::Testing {

// Time moves only when someone sleeps: a sleep is recorded and returns at once.
class CFakeClock final : public IClock {
 public:
  // Called after each sleep with the number of sleeps so far (set before the clock is used).
  std::function<void(size_t)> onSleep;

  uint64_t NowMilliseconds() override { return m_now.load(); }
  boost::posix_time::ptime UtcNow() override {
    return boost::posix_time::ptime(boost::gregorian::date(2024, 1, 1)) +
           boost::posix_time::milliseconds(static_cast<int64_t>(m_now.load()));
  }
  void Sleep(uint64_t milliseconds) override {
    size_t count = 0;
    {
      std::lock_guard lock(m_mutex);
      m_sleeps.push_back(milliseconds);
      count = m_sleeps.size();
    }
    m_now += milliseconds;
    if (onSleep) onSleep(count);
  }
  // Waits for the condition; the deadline is reached only through other threads' sleeps, so
  // the short real wait only rechecks the simulated time.
  bool WaitUntil(boost::unique_lock<boost::mutex>& lock, boost::condition_variable& condition,
                 uint64_t deadline, const std::function<bool()>& done) override {
    while (!done()) {
      if (m_now.load() >= deadline) return false;
      condition.wait_for(lock, boost::chrono::milliseconds(1));
    }
    return true;
  }

  void Advance(uint64_t milliseconds) { m_now += milliseconds; }
  std::vector<uint64_t> Sleeps() {
    std::lock_guard lock(m_mutex);
    return m_sleeps;
  }
  void ClearSleeps() {
    std::lock_guard lock(m_mutex);
    m_sleeps.clear();
  }

 private:
  std::atomic<uint64_t> m_now{1'000'000};
  std::mutex m_mutex;
  std::vector<uint64_t> m_sleeps;
};

struct PostedHit {
  std::string body;
  std::wstring userAgent;
  std::thread::id thread;
};

// Records every attempt; `answer` (given the attempt's index) decides whether it succeeds.
class CRecordingPoster final : public IHitPoster {
 public:
  std::function<bool(size_t attempt)> answer = [](size_t) { return true; };

  bool Post(const std::wstring& userAgent,
            Cxx::Network::Http::HttpClient::IParametersSet& hit) override {
    uint32_t length = 0;
    const char* data = hit.GetBuffer(length);
    size_t index = 0;
    {
      std::lock_guard lock(m_mutex);
      index = m_posted.size();
      m_posted.push_back({std::string(data, length), userAgent, std::this_thread::get_id()});
    }
    return answer(index);
  }

  std::vector<PostedHit> Posted() {
    std::lock_guard lock(m_mutex);
    return m_posted;
  }
  size_t Count() {
    std::lock_guard lock(m_mutex);
    return m_posted.size();
  }

 private:
  std::mutex m_mutex;
  std::vector<PostedHit> m_posted;
};

}  // namespace AppMetrics::Testing
