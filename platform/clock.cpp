#include "platform/clock.h"

#include <boost/chrono.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/thread/thread.hpp>

namespace Platform {

namespace {

class CSystemClock final : public IClock {
 public:
  uint64_t NowMilliseconds() override { return SteadyMilliseconds(); }

  boost::posix_time::ptime UtcNow() override {
    return boost::posix_time::microsec_clock::universal_time();
  }

  void Sleep(uint64_t milliseconds) override {
    boost::this_thread::sleep_for(boost::chrono::milliseconds(milliseconds));
  }

  bool WaitUntil(boost::unique_lock<boost::mutex>& lock, boost::condition_variable& condition,
                 uint64_t deadline, const std::function<bool()>& done) override {
    while (!done()) {
      const uint64_t now = NowMilliseconds();
      if (now >= deadline) return false;
      condition.wait_for(lock, boost::chrono::milliseconds(deadline - now));
    }
    return true;
  }
};

}  // namespace

uint64_t SteadyMilliseconds() {
  const auto now = boost::chrono::steady_clock::now().time_since_epoch();
  // Offset by one so that the counter is never 0 ("never" for the rate limiter).
  return static_cast<uint64_t>(boost::chrono::duration_cast<boost::chrono::milliseconds>(now).count()) + 1;
}

std::shared_ptr<IClock> SystemClock() {
  static const std::shared_ptr<IClock> clock = std::make_shared<CSystemClock>();
  return clock;
}

}  // namespace Platform
