#include "app/startup_analytics.h"

#include "metrics/app_metrics.h"
#include "platform/text.h"

namespace CustomInstaller {

using Platform::WideToUtf8;

void CMetricsStartupAnalytics::SendEvent(const std::wstring& action, const std::wstring& category,
                                         const std::wstring& label, int64_t value) {
  AppMetrics::SendEvent({WideToUtf8(action), WideToUtf8(category), WideToUtf8(label), value});
}

void CMetricsStartupAnalytics::SendException(const std::wstring& context,
                                             const std::wstring& description, int32_t code,
                                             int32_t severity) {
  AppMetrics::SendException(
      {WideToUtf8(context), WideToUtf8(description), static_cast<uint32_t>(code), severity});
}

void CMetricsStartupAnalytics::SetAutoSessionControl(bool on) {
  AppMetrics::SetAutoSessionControl(on);
}

}  // namespace CustomInstaller
