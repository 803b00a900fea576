#include "app/installers.h"

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>
#include <utility>

#include "config/identity.h"
#include "core/install_codes.h"
#include "platform/text.h"

namespace CustomInstaller {

CWebInstaller::CWebInstaller(std::weak_ptr<Core::IInstallManager> installManager,
                             const InstallationDetails& details, IInstallerWindowHost& window,
                             IStartupAnalytics* analytics)
    : m_installManager(std::move(installManager)),
      m_details(details),
      m_window(window),
      m_analytics(analytics) {}

bool CWebInstaller::Run() {
  const auto installManager = m_installManager.lock();
  CInstallerPageFiles files;
  const std::wstring pageUrl = m_window.ExtractPageResources(files);
  // The page files go when the run ends, however it ends.
  struct PageFilesRemover {
    IInstallerWindowHost& window;
    const CInstallerPageFiles& files;
    ~PageFilesRemover() { window.RemovePageFiles(files); }
  } remover{m_window, files};

  const int endCode = m_window.RunModal(pageUrl, installManager, m_details);
  if (endCode == kExitNotShown) {
    if (m_analytics) {
      const Core::InstallException& kind = Core::InstallExceptions::kWindowNotShown;
      m_analytics->SendException(L"timeout", Platform::Utf8ToWide(kind.description), 1, kind.severity);
    }
    return false;
  }
  return true;
}

namespace {

// The window-less run's view of the installation: nothing to show, only the end to wait for.
class COutcomeWaiter : public Core::JS::IInstallProgressJSCallback {
 public:
  void OnStarted() override {}
  void OnProgress(float) override {}
  void OnError(int) override { End(); }
  void OnCancel() override { End(); }
  void OnFinish() override { End(); }

  void Wait() {
    boost::this_thread::disable_interruption noInterruption;
    boost::unique_lock lock(m_mutex);
    while (!m_ended) m_changed.wait(lock);
  }

 private:
  void End() {
    {
      boost::lock_guard lock(m_mutex);
      m_ended = true;
    }
    m_changed.notify_all();
  }

  boost::mutex m_mutex;
  boost::condition_variable m_changed;
  bool m_ended = false;
};

}  // namespace

CBasicInstaller::CBasicInstaller(std::weak_ptr<Core::IInstallManager> installManager)
    : m_installManager(std::move(installManager)) {}

bool CBasicInstaller::Run() {
  const auto installManager = m_installManager.lock();
  if (!installManager) return false;
  // Stopping right after the start would interrupt a source that is still retrying the
  // component service and end the run without installing: wait for the outcome first.
  const auto outcome = std::make_shared<COutcomeWaiter>();
  installManager->Start(outcome);
  outcome->Wait();
  installManager->Stop();
  return true;
}

}  // namespace CustomInstaller
