#include "gui/install_progress_js_callback.h"

#include <boost/thread/exceptions.hpp>
#include <utility>

#include "metrics/app_metrics.h"

namespace CustomInstaller::Gui {

using namespace BrowserControl;

CInstallProgressJSCallback::CInstallProgressJSCallback(IDispatch* callback, bool noMarshal)
    : CInstallProgressJSCallback(callback, CurrentPageThread(), noMarshal) {}

CInstallProgressJSCallback::CInstallProgressJSCallback(IDispatch* callback,
                                                       std::shared_ptr<IPageThread> pageThread, bool noMarshal)
    : m_script(callback, std::move(pageThread), noMarshal) {}

// The script object goes back to its page thread to be released (the pointer sees to it).
CInstallProgressJSCallback::~CInstallProgressJSCallback() = default;

void CInstallProgressJSCallback::OnStarted() {
  AppMetrics::CTimingData timing;
  timing.variable = "InstallDuration";
  timing.category = "Install";
  auto started = AppMetrics::CreateTiming(timing);  // empty while there is no sender
  {
    std::lock_guard lock(m_timingMutex);
    m_timing = std::move(started);
  }
  CallScript(L"onStarted");
}

void CInstallProgressJSCallback::OnProgress(float percent) { CallScript(L"onProgress", {MakeVariantR4(percent)}); }

void CInstallProgressJSCallback::OnError(int code) { CallScript(L"onError", {MakeVariantInt(code)}); }

void CInstallProgressJSCallback::OnCancel() { CallScript(L"onCancel"); }

void CInstallProgressJSCallback::OnFinish() {
  std::shared_ptr<AppMetrics::ITiming> timing;
  {
    std::lock_guard lock(m_timingMutex);
    timing = std::exchange(m_timing, nullptr);
  }
  if (timing) timing->SendElapsedMilliseconds();
  CallScript(L"onFinish");
}

void CInstallProgressJSCallback::CallScript(const wchar_t* method, std::vector<VARIANT> args) {
  try {
    // The outcome is the page's business: a missing or failing method is not the installer's.
    (void)m_script.CallMethod(method, std::move(args));
  } catch (const boost::thread_interrupted&) {
    throw;  // the notifying worker is being stopped: let it end
  } catch (...) {
  }
}

}  // namespace CustomInstaller::Gui
