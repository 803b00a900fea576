#pragma once
// Moves the page's progress bar while the product installer runs, whose own progress we
// cannot see: each step closes a fixed share of the gap to the maximum.
#include <cstdint>
#include <memory>

#include <boost/thread/thread.hpp>

#include "core/progress_callback.h"
#include "platform/clock.h"

namespace CustomInstaller::Utils {

class CProgressSender {
 public:
  static constexpr float kStart = 50.0f;
  static constexpr float kMaximum = 97.0f;
  static constexpr uint32_t kInterval = 300;  // milliseconds
  static constexpr float kFactor = 0.03f;

  CProgressSender(std::weak_ptr<Core::JS::IInstallProgressJSCallback> target, float start = kStart,
                  float maximum = kMaximum, uint32_t interval = kInterval, float factor = kFactor,
                  std::shared_ptr<Platform::IClock> clock = nullptr);
  // Ends the thread like End, without the last report.
  ~CProgressSender();
  CProgressSender(const CProgressSender&) = delete;
  CProgressSender& operator=(const CProgressSender&) = delete;

  // Starts the reporting thread (stopping an earlier one first).
  void Begin();
  // Stops the thread and reports the maximum.
  void End();

  // The value after `value`: a `factor` share of the remaining gap closer to the maximum.
  float Next(float value) const;

 private:
  void Run();
  void StopThread();

  std::weak_ptr<Core::JS::IInstallProgressJSCallback> m_target;
  float m_maximum;
  float m_start;
  uint32_t m_interval;
  float m_factor;
  std::shared_ptr<Platform::IClock> m_clock;  // the pauses between reports
  std::unique_ptr<boost::thread> m_thread;
};

}  // namespace CustomInstaller::Utils
