#pragma once
// The simulated clock, a recording collector and the shutdown on a thread of its own for the
// analytics sender's tests.
#include <atomic>
#include <memory>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/chrono.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "tests/support/event.h"
#include "tests/support/fake_clock.h"
#include "metrics/google_analytics_metrics.h"
#include "metrics/collector.h"
#include "network/parameters.h"

namespace AppMetrics::Testing {

using CFakeClock = TestSupport::CFakeClock;

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

// Destroys the sender on a thread of its own; false when that did not end within a minute (the
// thread is then left behind with its own references).
inline bool ShutDown(std::shared_ptr<CGoogleAnalyticsMetrics> sender) {
  auto done = std::make_shared<TestSupport::Event>();
  std::thread shutdown([sender = std::move(sender), done]() mutable {
    sender.reset();
    done->Set();
  });
  if (!done->Wait()) {
    shutdown.detach();
    return false;
  }
  shutdown.join();
  return true;
}

}  // namespace AppMetrics::Testing
