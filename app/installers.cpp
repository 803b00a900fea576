#include "app/installers.h"

#include <utility>

#include "config/identity.h"

namespace CustomInstaller {

std::wstring CProductNameSpecificGenerator::GetSuffix() const { return Config::kProductCode; }

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
    if (m_analytics) m_analytics->SendException(L"timeout", L"IJ", 1, 2);
    return false;
  }
  return true;
}

CBasicInstaller::CBasicInstaller(std::weak_ptr<Core::IInstallManager> installManager)
    : m_installManager(std::move(installManager)) {}

bool CBasicInstaller::Run() {
  const auto installManager = m_installManager.lock();
  if (!installManager) return false;
  installManager->Start(nullptr);
  installManager->Stop();
  return true;
}

}  // namespace CustomInstaller
