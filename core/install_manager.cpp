#include "core/install_manager_impl.h"

#include "metrics/app_metrics.h"

namespace CustomInstaller::Core {

namespace {

void SendInstallEvent(const char* action) { AppMetrics::SendEvent({action, "Install", "", -1}); }

}  // namespace

std::shared_ptr<CInstallManager> CInstallManager::Create(std::shared_ptr<IInstallerSource> source,
                                                         std::unique_ptr<IInstallerLauncher> launcher,
                                                         std::shared_ptr<IGASessionHandler> session) {
  auto manager = std::make_shared<CInstallManager>(Key{}, std::move(source), std::move(launcher),
                                                   std::move(session));
  manager->m_selfAsSourceCallback = std::static_pointer_cast<IInstallerSourceCallback>(manager);
  manager->m_selfAsLauncherCallback = std::static_pointer_cast<IInstallerLauncherCallback>(manager);
  return manager;
}

CInstallManager::CInstallManager(Key, std::shared_ptr<IInstallerSource> source,
                                 std::unique_ptr<IInstallerLauncher> launcher,
                                 std::shared_ptr<IGASessionHandler> session)
    : m_source(std::move(source)), m_launcher(std::move(launcher)), m_session(std::move(session)) {}

std::shared_ptr<JS::IInstallProgressJSCallback> CInstallManager::Progress() {
  std::lock_guard lock(m_progressMutex);
  return m_progress;
}

bool CInstallManager::Start(std::shared_ptr<JS::IInstallProgressJSCallback> progress) {
  {
    std::lock_guard lock(m_progressMutex);
    m_progress = progress;
  }
  if (progress) {
    progress->OnStarted();
    progress->OnProgress(0.0f);
  }
  if (m_source && m_launcher && m_source->Start(m_selfAsSourceCallback, progress)) return true;
  OnSourceFailed();
  return true;
}

bool CInstallManager::Cancel() {
  if (m_session) m_session->OnInstallCancelled();
  const bool sourceCancelled = m_source && m_source->Cancel();
  const bool launcherCancelled = m_launcher && m_launcher->Cancel();
  return sourceCancelled || launcherCancelled;
}

void CInstallManager::Stop() {
  if (m_source) m_source->Stop();
  if (m_launcher) m_launcher->Stop();
}

void CInstallManager::OnSourceReady(std::shared_ptr<IInstaller> installer) {
  if (installer && m_launcher &&
      m_launcher->Launch(std::move(installer), m_selfAsLauncherCallback, Progress())) {
    return;
  }
  OnLaunchFailed(kLaunchFailed);
}

void CInstallManager::OnSourceFailed() {
  SendInstallEvent("InstallerFailureW");
  if (m_session) m_session->OnInstallFailed();
  if (const auto progress = Progress()) progress->OnError(JS::kPageErrorUnknown);
}

void CInstallManager::OnSourceCancelled() {
  if (m_session) m_session->OnInstallCancelled();
  if (const auto progress = Progress()) progress->OnCancel();
}

void CInstallManager::OnLaunchSucceeded() {
  SendInstallEvent("InstallerSuccessW");
  if (m_session) m_session->OnInstallSucceeded();
  if (const auto progress = Progress()) progress->OnFinish();
}

void CInstallManager::OnLaunchFailed(uint32_t flag) {
  SendInstallEvent("InstallerFailureW");
  if (m_session) m_session->OnInstallFailed();
  if (const auto progress = Progress()) progress->OnError(flag == kLaunchRejectedFile ? JS::kPageErrorBrokenInstaller : JS::kPageErrorUnknown);
}

void CInstallManager::OnLaunchCancelled() {
  if (m_session) m_session->OnInstallCancelled();
  if (const auto progress = Progress()) progress->OnCancel();
}

}  // namespace CustomInstaller::Core
