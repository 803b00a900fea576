#include "network/operation_thread.h"

#include <boost/chrono.hpp>

namespace Cxx::Core::Utils {

COperationThread::~COperationThread() {
  Interrupt();
  boost::this_thread::disable_interruption noInterruption;
  Wait(-1);
  boost::lock_guard lock(m_mutex);
  if (m_current && m_current->thread.joinable()) m_current->thread.join();
}

void COperationThread::Start(std::function<void()> operation) {
  boost::lock_guard startLock(m_startMutex);
  Interrupt();
  {
    // The old operation must be gone before the new one starts, even for an interrupted caller.
    boost::this_thread::disable_interruption noInterruption;
    Wait(-1);
  }
  {
    boost::lock_guard lock(m_mutex);
    if (m_current && m_current->thread.joinable()) m_current->thread.join();
    m_current.reset();
  }

  auto run = std::make_shared<Run>();
  {
    // Recorded before it runs: an Interrupt or Wait from any thread, the operation's own
    // included, finds the worker from its first instruction on.
    boost::lock_guard lock(m_mutex);
    m_current = run;
    try {
      run->thread = boost::thread([run, operation = std::move(operation)] {
      {
        boost::lock_guard lock(run->mutex);
        run->started = true;
      }
      run->changed.notify_all();
      try {
        operation();
      } catch (...) {
        // An interruption or a failure of the operation ends it quietly.
      }
      {
        boost::lock_guard lock(run->mutex);
        run->finished = true;
      }
      run->changed.notify_all();
      });
    } catch (...) {
      m_current.reset();  // no worker: nothing to wait for
      throw;
    }
  }
  boost::this_thread::disable_interruption noInterruption;
  boost::unique_lock lock(run->mutex);
  while (!run->started) run->changed.wait(lock);
}

void COperationThread::Interrupt() {
  boost::lock_guard lock(m_mutex);
  if (m_current) m_current->thread.interrupt();
}

bool COperationThread::Wait(int milliseconds) {
  std::shared_ptr<Run> run;
  {
    boost::lock_guard lock(m_mutex);
    run = m_current;
  }
  if (!run) return true;
  // An interruption point for the caller, unless it has switched interruption off.
  boost::unique_lock lock(run->mutex);
  if (milliseconds < 0) {
    while (!run->finished) run->changed.wait(lock);
    return true;
  }
  const auto deadline = boost::chrono::steady_clock::now() + boost::chrono::milliseconds(milliseconds);
  while (!run->finished) {
    if (run->changed.wait_until(lock, deadline) == boost::cv_status::timeout) return run->finished;
  }
  return true;
}

}  // namespace Cxx::Core::Utils
