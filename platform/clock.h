#pragma once
// The program's one view of time: a monotonic counter, the calendar, and the waits. Every wait
// goes through a clock, so tests run the real code paths on simulated time.
#include <cstdint>
#include <functional>
#include <memory>

#include <boost/date_time/posix_time/ptime.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

namespace Platform {

class IClock {
 public:
  virtual ~IClock() = default;
  // Milliseconds of a monotonic counter; never 0.
  virtual uint64_t NowMilliseconds() = 0;
  // Current UTC time.
  virtual boost::posix_time::ptime UtcNow() = 0;
  // Sleeps on the calling thread; an interruption point of Boost.Thread unless the caller has
  // disabled interruption.
  virtual void Sleep(uint64_t milliseconds) = 0;
  // Waits on `condition` (with `lock` held on entry and exit) until `done` holds or the counter
  // reaches `deadline`; returns done(). An interruption point like Sleep.
  virtual bool WaitUntil(boost::unique_lock<boost::mutex>& lock,
                         boost::condition_variable& condition, uint64_t deadline,
                         const std::function<bool()>& done) = 0;
};

// The steady clock, the system's UTC time and real sleeps; one object for the whole process.
std::shared_ptr<IClock> SystemClock();

// The system clock's counter, for code that only measures.
uint64_t SteadyMilliseconds();

}  // namespace Platform
