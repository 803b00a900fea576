#pragma once
// The page's progress as the launcher's tests see it.
#include <mutex>
#include <vector>

#include "core/progress_callback.h"

namespace CustomInstaller::Testing {

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
