#pragma once
// A one-shot signal between threads.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace TestSupport {

class Event {
 public:
  void Set() {
    std::lock_guard lock(m_mutex);
    m_set = true;
    m_condition.notify_all();
  }
  // False when nothing happened within a minute: the code under test hangs.
  bool Wait() {
    std::unique_lock lock(m_mutex);
    return m_condition.wait_for(lock, std::chrono::minutes(1), [this] { return m_set; });
  }
  bool IsSet() {
    std::lock_guard lock(m_mutex);
    return m_set;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_condition;
  bool m_set = false;
};

}  // namespace TestSupport
