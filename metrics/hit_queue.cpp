#include "metrics/hit_queue.h"

namespace AppMetrics {

CHitQueue::CHitQueue(std::shared_ptr<Platform::IClock> clock, size_t capacity)
    : m_clock(std::move(clock)), m_capacity(capacity) {
  try {
    m_worker = std::make_unique<boost::thread>([this] { Run(); });
  } catch (const boost::thread_resource_error&) {
    m_worker.reset();
  }
}

CHitQueue::~CHitQueue() { StopWorker(); }

bool CHitQueue::Push(Task task) {
  {
    boost::lock_guard lock(m_mutex);
    if (m_discarded || m_tasks.size() >= m_capacity) return false;
    m_tasks.push_back(std::move(task));
  }
  m_wake.notify_one();
  return true;
}

bool CHitQueue::WaitIdle(uint64_t deadline) {
  boost::unique_lock lock(m_mutex);
  return m_clock->WaitUntil(lock, m_changed, deadline,
                            [this] { return m_tasks.empty() && !m_running; });
}

void CHitQueue::Discard() {
  {
    boost::lock_guard lock(m_mutex);
    m_discarded = true;
  }
  StopWorker();
}

bool CHitQueue::IsDiscarded() const {
  boost::lock_guard lock(m_mutex);
  return m_discarded;
}

bool CHitQueue::HasWorker() const {
  boost::lock_guard lock(m_mutex);
  return m_worker != nullptr && !m_stop;
}

void CHitQueue::StopWorker() {
  std::unique_ptr<boost::thread> worker;
  {
    boost::lock_guard lock(m_mutex);
    m_tasks.clear();
    m_stop = true;
    worker = std::move(m_worker);
  }
  m_wake.notify_all();
  m_changed.notify_all();
  // A running task is cut short at its next wait (a retry pause, a network wait).
  if (worker) worker->interrupt();
  if (worker && worker->joinable()) worker->join();
}

void CHitQueue::Run() {
  // Only a running task is interruptible: the stop interrupts it, never the worker's own waits.
  boost::this_thread::disable_interruption noInterruption;
  boost::unique_lock lock(m_mutex);
  for (;;) {
    while (!m_stop && m_tasks.empty()) m_wake.wait(lock);
    if (m_stop) break;
    Task task = std::move(m_tasks.front());
    m_tasks.pop_front();
    m_running = true;
    lock.unlock();
    try {
      boost::this_thread::restore_interruption interruptible(noInterruption);
      task();
    } catch (...) {
      // A task reports nothing; its failure must not end the worker.
    }
    task = nullptr;
    lock.lock();
    m_running = false;
    m_changed.notify_all();
  }
  m_running = false;
  m_changed.notify_all();
}

}  // namespace AppMetrics
