#pragma once
// One worker thread that runs queued tasks in order. The queue is bounded: a task offered to a
// full queue is dropped.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include "platform/clock.h"

namespace AppMetrics {

class CHitQueue {
 public:
  using Task = std::function<void()>;
  static constexpr size_t kCapacity = 5000;

  // Starts the worker; without one (the thread could not be made) tasks stay queued.
  CHitQueue(std::shared_ptr<Platform::IClock> clock, size_t capacity = kCapacity);
  // Drops what is still queued, interrupts the running task and joins the worker.
  ~CHitQueue();
  CHitQueue(const CHitQueue&) = delete;
  CHitQueue& operator=(const CHitQueue&) = delete;

  // False when the task was dropped: the queue is full or has been discarded.
  bool Push(Task task);
  // Waits until nothing is queued or running (true) or the clock reaches `deadline` (false).
  bool WaitIdle(uint64_t deadline);
  // Empties the queue, refuses every later task, interrupts the running task at its next wait,
  // waits for it and ends the worker.
  void Discard();
  bool IsDiscarded() const;
  bool HasWorker() const;

 private:
  void Run();
  void StopWorker();

  std::shared_ptr<Platform::IClock> m_clock;
  const size_t m_capacity;
  mutable boost::mutex m_mutex;
  boost::condition_variable m_wake;     // the worker: a task or the stop
  boost::condition_variable m_changed;  // waiters: a task ended or the queue was emptied
  std::deque<Task> m_tasks;
  bool m_running = false;
  bool m_stop = false;
  bool m_discarded = false;
  std::unique_ptr<boost::thread> m_worker;
};

}  // namespace AppMetrics
