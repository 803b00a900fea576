#include "core/progress_sender.h"

namespace CustomInstaller::Utils {

CProgressSender::CProgressSender(std::weak_ptr<Core::JS::IInstallProgressJSCallback> target, float start,
                                 float maximum, uint32_t interval, float factor,
                                 std::shared_ptr<Platform::IClock> clock)
    : m_target(std::move(target)),
      m_maximum(maximum),
      m_start(start),
      m_interval(interval),
      m_factor(factor),
      m_clock(clock ? std::move(clock) : Platform::SystemClock()) {}

CProgressSender::~CProgressSender() { StopThread(); }

float CProgressSender::Next(float value) const {
  const float gap = m_maximum - value;
  return gap <= 0.0f ? m_maximum : value + m_factor * gap;
}

void CProgressSender::Begin() {
  StopThread();
  m_thread = std::make_unique<boost::thread>([this] { Run(); });
}

void CProgressSender::End() {
  const auto target = m_target.lock();
  if (!m_thread || !target) {
    StopThread();
    return;
  }
  StopThread();
  target->OnProgress(m_maximum);
}

void CProgressSender::StopThread() {
  if (!m_thread) return;
  m_thread->interrupt();
  m_thread->join();
  m_thread.reset();
}

void CProgressSender::Run() {
  if (m_target.expired() || !(0.0f < m_maximum) || !(0.0f <= m_start && m_start <= m_maximum)) return;
  try {
    m_clock->Sleep(m_interval);
    float value = Next(m_start);
    while (value < m_maximum) {
      // The page may go away meanwhile: the target is held only for each report.
      if (const auto target = m_target.lock()) target->OnProgress(value);
      m_clock->Sleep(m_interval);
      value = Next(value);
    }
    if (const auto target = m_target.lock()) target->OnProgress(m_maximum);
  } catch (const boost::thread_interrupted&) {
    // End stopped us; it reports the maximum itself.
  } catch (...) {
    // A failing report ends the reports; the installation goes on.
  }
}

}  // namespace CustomInstaller::Utils
