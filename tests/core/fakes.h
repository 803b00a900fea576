#pragma once
// Small fakes shared by the launcher's tests.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include "core/progress_callback.h"
#include "core/progress_sender.h"

namespace CustomInstaller::Testing {

// A one-shot signal between threads.
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

 private:
  std::mutex m_mutex;
  std::condition_variable m_condition;
  bool m_set = false;
};

// The first `freeSleeps` sleeps return at once; the next one waits until the thread is
// interrupted, so the thread makes a known number of steps and then waits for End.
class CGatedSleeper final : public Utils::IProgressSleeper {
 public:
  explicit CGatedSleeper(size_t freeSleeps) : m_free(freeSleeps) {}
  void Sleep(uint32_t milliseconds) override {
    boost::unique_lock lock(m_mutex);
    m_sleeps.push_back(milliseconds);
    if (m_sleeps.size() <= m_free) return;
    waiting.Set();
    for (;;) m_condition.wait(lock);  // ends only by interruption
  }
  std::vector<uint32_t> Sleeps() {
    boost::unique_lock lock(m_mutex);
    return m_sleeps;
  }
  Event waiting;

 private:
  size_t m_free;
  boost::mutex m_mutex;
  boost::condition_variable m_condition;
  std::vector<uint32_t> m_sleeps;
};

class CRecordingProgress final : public Core::JS::IInstallProgressJSCallback {
 public:
  void OnStarted() override {}
  void OnProgress(float percent) override {
    std::lock_guard lock(m_mutex);
    m_values.push_back(percent);
  }
  void OnError(int) override {}
  void OnCancel() override {}
  void OnFinish() override {}
  std::vector<float> Values() {
    std::lock_guard lock(m_mutex);
    return m_values;
  }

 private:
  std::mutex m_mutex;
  std::vector<float> m_values;
};

}  // namespace CustomInstaller::Testing
