#include "metrics/app_metrics.h"

#include <mutex>

#include "network/connection.h"

namespace AppMetrics {

namespace {

std::mutex g_senderMutex;

std::shared_ptr<IMetrics>& Sender() {
  // Touch the network layer's process-wide settings first, so that they are destroyed after
  // the sender, whose shutdown may still send.
  static std::shared_ptr<IMetrics> sender =
      ((void)Cxx::Network::Http::HttpClient::DefaultConnectionSettings(), nullptr);
  return sender;
}

}  // namespace

bool CreateGoogleAnalyticsMetrics(const CGoogleAnalyticsConfig& config,
                                  CMetricsEnvironment environment) {
  std::lock_guard lock(g_senderMutex);
  auto& sender = Sender();
  if (!sender && config.IsValid()) {
    sender = std::make_shared<CGoogleAnalyticsMetrics>(config, std::move(environment));
  }
  return sender != nullptr;
}

void DestroyGoogleAnalyticsMetrics() {
  std::shared_ptr<IMetrics> released;
  {
    std::lock_guard lock(g_senderMutex);
    released = std::move(Sender());
  }
  // The shutdown runs here, outside the lock, so the forwarding functions stay usable.
}

std::shared_ptr<IMetrics> GetGoogleAnalyticsMetrics() {
  std::lock_guard lock(g_senderMutex);
  return Sender();
}

bool SendEvent(const CEventData& event) {
  const auto sender = GetGoogleAnalyticsMetrics();
  return sender && sender->SendEvent(event);
}

std::shared_ptr<ITiming> CreateTiming(const CTimingData& timing) {
  const auto sender = GetGoogleAnalyticsMetrics();
  return sender ? sender->CreateTiming(timing) : nullptr;
}

bool SendException(const CExceptionData& exception) {
  const auto sender = GetGoogleAnalyticsMetrics();
  return sender && sender->SendException(exception);
}

bool SendScreenView(const CScreenViewData& screenView) {
  const auto sender = GetGoogleAnalyticsMetrics();
  return sender && sender->SendScreenView(screenView);
}

bool StartSession() {
  const auto sender = GetGoogleAnalyticsMetrics();
  return sender && sender->StartSession();
}

bool SetEnabled(bool enabled) {
  const auto sender = GetGoogleAnalyticsMetrics();
  return sender && sender->SetEnabled(enabled);
}

void SetAutoSessionControl(bool on) {
  if (const auto sender = GetGoogleAnalyticsMetrics()) sender->SetAutoSessionControl(on);
}

bool WaitForPendingHits(uint32_t seconds) {
  const auto sender = GetGoogleAnalyticsMetrics();
  return !sender || sender->WaitForPendingHits(seconds);
}

}  // namespace AppMetrics
