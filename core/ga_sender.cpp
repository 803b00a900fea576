#include "core/ga_sender.h"

#include "metrics/app_metrics.h"
#include "platform/text.h"

namespace CustomInstaller::GA {

using Platform::WideToUtf8;

bool CGASender::SendScreen(const std::wstring& name) {
  if (name.empty()) return false;
  AppMetrics::SendScreenView({WideToUtf8(name)});
  return true;
}

bool CGASender::SendEvent(const std::wstring& action, const std::wstring& category,
                          const std::wstring& label, int64_t value) {
  if (action.empty() || category.empty() || label.empty()) return false;
  AppMetrics::SendEvent({WideToUtf8(action), WideToUtf8(category), WideToUtf8(label), value});
  return true;
}

}  // namespace CustomInstaller::GA
