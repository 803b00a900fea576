#include "app/window_host.h"

#include "app/installers.h"
#include "gui/installer_window.h"
#include "gui/page_resources.h"

namespace CustomInstaller {

std::wstring CInstallerWindowHost::ExtractPageResources(CInstallerPageFiles& files) {
  Gui::CInstallerPageFiles written;
  const std::wstring index = Gui::ExtractPageResources(written);
  files.indexHtml = written.indexHtml;
  files.indexFolder = written.indexFolder;
  return index;
}

int CInstallerWindowHost::RunModal(const std::wstring& pageUrl,
                                   const std::shared_ptr<Core::IInstallManager>& installManager,
                                   const InstallationDetails& details) {
  if (!Gui::CInstallerWindow::OpenDisplay()) return kExitNotShown;
  Gui::CInstallerWindow window(pageUrl, installManager, details, m_showTimeoutMs);
  return window.Run();
}

void CInstallerWindowHost::RemovePageFiles(const CInstallerPageFiles& files) {
  Gui::RemovePageFiles(Gui::CInstallerPageFiles{files.indexHtml, files.indexFolder});
}

}  // namespace CustomInstaller
