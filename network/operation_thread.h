#pragma once
// Runs one operation at a time on a worker thread, with interruption and waiting.
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>
#include <functional>
#include <memory>

namespace Cxx::Core::Utils {

class COperationThread {
 public:
  COperationThread() = default;
  // Interrupts the running operation and waits for it.
  ~COperationThread();
  COperationThread(const COperationThread&) = delete;
  COperationThread& operator=(const COperationThread&) = delete;

  // Interrupts and waits for any running operation, then runs `operation` on a new worker and
  // returns once the worker has begun. Exceptions of the operation (an interruption among
  // them) are dropped.
  void Start(std::function<void()> operation);
  // Asks the running operation to stop at its next interruption point (sleeps and waits).
  void Interrupt();
  // Waits for the running operation: at most `milliseconds`, or without limit for -1.
  // True when none is running (any more). The wait is an interruption point of the caller.
  bool Wait(int milliseconds);

 private:
  struct Run {
    boost::thread thread;
    boost::mutex mutex;
    boost::condition_variable changed;
    bool started = false;
    bool finished = false;
  };

  boost::mutex m_startMutex;  // one Start at a time
  boost::mutex m_mutex;       // guards m_current
  std::shared_ptr<Run> m_current;
};

}  // namespace Cxx::Core::Utils
