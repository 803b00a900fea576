#pragma once
// The analytics sender: hits are queued by any thread and sent one by one, in order, by one
// worker thread, within a per-session budget and a rate limit, and retried until they are
// delivered or the sender shuts down.
#include <atomic>
#include <cstdint>
#include <memory>

#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include "metrics/analytics_config.h"
#include "platform/clock.h"
#include "metrics/collector.h"
#include "metrics/hit_queue.h"
#include "metrics/hit_rate_limiter.h"
#include "metrics/hits.h"
#include "metrics/metrics.h"

namespace AppMetrics {

// What a sender waits with and delivers through; empty members take the real ones.
struct CMetricsEnvironment {
  std::shared_ptr<Platform::IClock> clock;
  std::shared_ptr<IHitPoster> poster;
};

class CGoogleAnalyticsMetrics final : public IMetrics,
                                      public std::enable_shared_from_this<CGoogleAnalyticsMetrics> {
 public:
  static constexpr int32_t kRetryWithoutLimit = 65535;
  static constexpr uint32_t kFirstRetryPause = 30000;  // milliseconds
  static constexpr uint32_t kRetryPauseStep = 10000;
  static constexpr uint32_t kLongestRetryPause = 600000;
  static constexpr uint32_t kDrainLimitSeconds = 20;
  // The direct session end after a failed drain, in milliseconds.
  static constexpr uint64_t kDirectAttemptLimit = 400;
  // A crash report: one attempt of at most 2 seconds, then at most 2 seconds of drain.
  static constexpr uint64_t kCrashAttemptLimit = 2000;
  static constexpr uint32_t kCrashDrainSeconds = 2;

  // The configuration must be valid. The sender starts disabled with automatic session
  // control on.
  explicit CGoogleAnalyticsMetrics(const CGoogleAnalyticsConfig& config,
                                   CMetricsEnvironment environment = {});
  // Queues a session end (automatic session control), drains the queue for up to 20 seconds
  // and, when that fails, stops the worker at once (a retry pause or a hanging attempt is cut
  // short) and makes one short direct attempt of the session end.
  ~CGoogleAnalyticsMetrics() override;

  bool SendEvent(const CEventData& event) override;
  std::shared_ptr<ITiming> CreateTiming(const CTimingData& timing) override;
  bool SendTiming(const CTimingData& timing) override;
  bool SendApplicationStartType(EApplicationStartType startType) override;
  bool SendBuildId(const CBuildId& buildId) override;
  bool SendCurrentLocale(const std::wstring& locale) override;
  bool SendDaysSinceInstall(int32_t days) override;
  bool SendException(const CExceptionData& exception) override;
  bool SendScreenView(const CScreenViewData& screenView) override;
  bool StartSession() override;
  bool EndSession() override;
  bool SetEnabled(bool enabled) override;
  void SetAutoSessionControl(bool on) override;
  bool SetUserLanguage(const std::string& language) override;
  bool WaitForPendingHits(uint32_t seconds) override;

  Platform::IClock& GetClock() { return *m_clock; }

 private:
  enum class EQueued { Queued, Discarded };
  // Queues a task that builds the hit with `make` and sends it (dropped silently when the
  // queue is full). Only the record is copied on the caller's thread.
  template <typename Make>
  EQueued Queue(Make make) {
    if (m_queue.IsDiscarded()) return EQueued::Discarded;
    m_queue.Push([this, make = std::move(make)] { SendHit(make(), kRetryWithoutLimit); });
    return EQueued::Queued;
  }
  // Builds the full hit, takes the limiter's permission and sends it with retries.
  void SendHit(const CHit& hit, int32_t retries);
  bool Drain(uint32_t seconds);
  // One attempt of `hit` on a thread of its own, interrupted after `milliseconds`; true when it
  // ended in time.
  bool SendBounded(const CHit& hit, uint64_t milliseconds);

  std::shared_ptr<Platform::IClock> m_clock;
  std::shared_ptr<IHitPoster> m_poster;
  CGoogleAnalyticsConfig m_config;
  boost::mutex m_configMutex;
  std::atomic<int32_t> m_enabled{0};
  std::atomic<int32_t> m_autoSession{1};
  std::atomic<bool> m_abort{false};
  CHitRateLimiter m_limiter;
  CHitQueue m_queue;  // last: its worker uses everything above and is joined first
};

// Measures from its start and reports the span as a timing hit through its sender, while the
// sender exists.
class CGoogleAnalyticsTiming final : public ITiming {
 public:
  CGoogleAnalyticsTiming(std::weak_ptr<CGoogleAnalyticsMetrics> sender, CTimingData timing);
  void SendElapsedSeconds() override;
  void SendElapsedMilliseconds() override;

 private:
  void Send(int64_t divisor);

  std::weak_ptr<CGoogleAnalyticsMetrics> m_sender;
  CTimingData m_timing;
};

}  // namespace AppMetrics
