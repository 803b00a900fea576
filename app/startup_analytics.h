#pragma once
// The start-up sequence's analytics calls, made through the process-wide metrics sender (they
// do nothing while there is none).
#include "app/startup_ports.h"

namespace CustomInstaller {

class CMetricsStartupAnalytics final : public IStartupAnalytics {
 public:
  // `label` is the event's screen name; `context` the exception's details.
  void SendEvent(const std::wstring& action, const std::wstring& category,
                 const std::wstring& label, int64_t value) override;
  void SendException(const std::wstring& context, const std::wstring& description, int32_t code,
                     int32_t severity) override;
  void SetAutoSessionControl(bool on) override;
};

}  // namespace CustomInstaller
