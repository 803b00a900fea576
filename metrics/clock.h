#pragma once
// Every wait of the analytics sender goes through a clock, so tests can run the real code paths
// on simulated time.
#include <cstdint>
#include <functional>
#include <memory>

#include <boost/date_time/posix_time/ptime.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

namespace AppMetrics {

class IClock {
 public:
  virtual ~IClock() = default;
  // Milliseconds of a monotonic counter; never 0.
  virtual uint64_t NowMilliseconds() = 0;
  // Current UTC time (timings).
  virtual boost::posix_time::ptime UtcNow() = 0;
  // Sleeps on the calling thread (an interruption point of Boost.Thread).
  virtual void Sleep(uint64_t milliseconds) = 0;
  // Waits on `condition` (with `lock` held on entry and exit) until `done` holds or the counter
  // reaches `deadline`; returns done().
  virtual bool WaitUntil(boost::unique_lock<boost::mutex>& lock,
                         boost::condition_variable& condition, uint64_t deadline,
                         const std::function<bool()>& done) = 0;
};

// The steady clock, the system's UTC time and real sleeps.
std::shared_ptr<IClock> CreateSystemClock();

}  // namespace AppMetrics
