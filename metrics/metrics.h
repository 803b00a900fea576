#pragma once
// The analytics sender as its callers see it.
#include <cstdint>
#include <memory>
#include <string>

#include "metrics/records.h"

namespace AppMetrics {

// A running measurement that can report its duration as a timing hit, more than once.
class ITiming {
 public:
  virtual ~ITiming() = default;
  virtual void SendElapsedSeconds() = 0;
  virtual void SendElapsedMilliseconds() = 0;
};

// Submitting operations return at once: they copy the record and queue the hit. They return
// false when the sender is disabled or the record is refused.
class IMetrics {
 public:
  virtual ~IMetrics() = default;
  virtual bool SendEvent(const CEventData& event) = 0;
  // Empty when variable or category is empty or the time is negative.
  virtual std::shared_ptr<ITiming> CreateTiming(const CTimingData& timing) = 0;
  virtual bool SendTiming(const CTimingData& timing) = 0;
  virtual bool SendApplicationStartType(EApplicationStartType startType) = 0;
  virtual bool SendBuildId(const CBuildId& buildId) = 0;
  virtual bool SendCurrentLocale(const std::wstring& locale) = 0;
  virtual bool SendDaysSinceInstall(int32_t days) = 0;
  // Severity 3 (crash) is sent at once on the calling thread and then drains the queue.
  virtual bool SendException(const CExceptionData& exception) = 0;
  virtual bool SendScreenView(const CScreenViewData& screenView) = 0;
  virtual bool StartSession() = 0;
  virtual bool EndSession() = 0;
  // Returns the previous value; disabling an enabled sender queues a session end first.
  virtual bool SetEnabled(bool enabled) = 0;
  virtual void SetAutoSessionControl(bool on) = 0;
  virtual bool SetUserLanguage(const std::string& language) = 0;
  // True once nothing is queued or being sent; false when `seconds` pass first.
  virtual bool WaitForPendingHits(uint32_t seconds) = 0;
};

}  // namespace AppMetrics
