#pragma once
// Carries the install manager's notifications to the page's callback object.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "browser/marshaled_interface_pointer.h"
#include "browser/page_thread.h"
#include "browser/variant.h"
#include "core/progress_callback.h"
#include "metrics/metrics.h"

namespace CustomInstaller::Gui {

// One per "start": the page's callback object, called as "onStarted", "onProgress" (percent
// as VT_R4), "onError" (code as VT_INT), "onCancel" and "onFinish". A method the object lacks
// is skipped; what a method does or returns does not matter to the installation.
//
// The install manager calls the notifications from any thread. Each call runs on the page
// thread, and the notifying thread waits until it has run there, so the page sees them in
// the order they were made. The wait ends early when the notifying thread is interrupted
// (boost::thread_interrupted leaves the notification, the call is dropped) or when the page
// thread stops serving (the call is dropped).
//
// Teardown rule: the launcher reports its outcome with interruption disabled, so interrupting
// it does not end such a wait. Whoever owns the page thread must therefore close it (stop
// serving calls) before it stops the installation's workers from that thread; joining a
// worker that waits for the page thread from the page thread itself would never return.
//
// "onStarted" starts the "InstallDuration" timing (category "Install"); "onFinish" sends it,
// once. A failed or cancelled installation sends none.
class CInstallProgressJSCallback final : public Core::JS::IInstallProgressJSCallback {
 public:
  // `callback` lives on `pageThread` (by default the calling thread's page thread). With
  // `noMarshal` it is called only when a notification comes on the page thread itself.
  explicit CInstallProgressJSCallback(BrowserControl::IDispatch* callback, bool noMarshal = false);
  CInstallProgressJSCallback(BrowserControl::IDispatch* callback,
                             std::shared_ptr<BrowserControl::IPageThread> pageThread, bool noMarshal = false);
  ~CInstallProgressJSCallback() override;
  CInstallProgressJSCallback(const CInstallProgressJSCallback&) = delete;
  CInstallProgressJSCallback& operator=(const CInstallProgressJSCallback&) = delete;

  void OnStarted() override;
  void OnProgress(float percent) override;
  void OnError(int code) override;
  void OnCancel() override;
  void OnFinish() override;

 private:
  void CallScript(const wchar_t* method, std::vector<BrowserControl::VARIANT> args = {});

  BrowserControl::marshaled_interface_pointer<BrowserControl::IDispatch> m_script;
  std::mutex m_timingMutex;
  std::shared_ptr<AppMetrics::ITiming> m_timing;  // from "onStarted" until it is sent
};

}  // namespace CustomInstaller::Gui
