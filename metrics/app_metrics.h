#pragma once
// The process-wide analytics sender and the functions that reach it. Every function does
// nothing (false, or an empty handle) while no sender exists.
#include <cstdint>
#include <memory>

#include "metrics/analytics_config.h"
#include "metrics/google_analytics_metrics.h"
#include "metrics/metrics.h"
#include "metrics/records.h"

namespace AppMetrics {

// Creates the sender on the first call with a valid configuration; later calls change nothing.
// True when a sender exists afterwards.
bool CreateGoogleAnalyticsMetrics(const CGoogleAnalyticsConfig& config,
                                  CMetricsEnvironment environment = {});
// Releases the sender (its shutdown drains the queue); also done at exit.
void DestroyGoogleAnalyticsMetrics();
std::shared_ptr<IMetrics> GetGoogleAnalyticsMetrics();

bool SendEvent(const CEventData& event);
std::shared_ptr<ITiming> CreateTiming(const CTimingData& timing);
bool SendException(const CExceptionData& exception);
bool SendScreenView(const CScreenViewData& screenView);
bool StartSession();
bool SetEnabled(bool enabled);
void SetAutoSessionControl(bool on);
// True at once when there is no sender.
bool WaitForPendingHits(uint32_t seconds);

}  // namespace AppMetrics
