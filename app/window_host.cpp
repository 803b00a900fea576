#include "app/window_host.h"

#include <iostream>
#include <string>

#include "app/installers.h"
#include "browser/window_libraries.h"
#include "gui/installer_window.h"
#include "gui/page_resources.h"

namespace CustomInstaller {

std::wstring CInstallerWindowHost::ExtractPageResources(CInstallerPageFiles& files) {
  // The page's files are read from the program's resources through GIO.
  std::string ignored;
  if (!Browser::LoadWindowLibraries(ignored)) return {};
  Gui::CInstallerPageFiles written;
  const std::wstring index = Gui::ExtractPageResources(written);
  files.indexHtml = written.indexHtml;
  files.indexFolder = written.indexFolder;
  return index;
}

int CInstallerWindowHost::RunModal(const std::wstring& pageUrl,
                                   const std::shared_ptr<Core::IInstallManager>& installManager,
                                   const InstallationDetails& details) {
  std::string error;
  if (!Browser::LoadWindowLibraries(error)) {
    // A machine without GTK or WebKitGTK: the same as no display.
    std::cerr << "omk-setup: the window cannot be shown: " << error << '\n';
    return kExitNotShown;
  }
  // No page to show (its files could not be written): never shown, so the fallback installs.
  if (pageUrl.empty() || !Gui::CInstallerWindow::OpenDisplay()) return kExitNotShown;
  Gui::CInstallerWindow window(pageUrl, installManager, details, m_showTimeoutMs);
  return window.Run();
}

void CInstallerWindowHost::RemovePageFiles(const CInstallerPageFiles& files) {
  Gui::RemovePageFiles(Gui::CInstallerPageFiles{files.indexHtml, files.indexFolder});
}

}  // namespace CustomInstaller
