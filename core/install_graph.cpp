#include "core/install_graph.h"

#include "core/install_manager_impl.h"
#include "core/installer_launcher.h"
#include "core/nsis_command_line.h"
#include "core/web_installer_source.h"

namespace CustomInstaller::Core {

std::shared_ptr<IInstallManager> CInstallGraphFactory::Build(EInstallGraph kind,
                                                             const std::shared_ptr<IGASessionHandler>& session,
                                                             const InstallerOptions& options,
                                                             const InstallationDetails& details) {
  // The windowed mode hides the product installer's own interface; the others show it.
  std::shared_ptr<INSISCommandLine> commandLine;
  if (kind == EInstallGraph::Windowed) {
    commandLine = std::make_shared<CNSISCommandLine>(options, details);
  } else {
    commandLine = std::make_shared<CNSISOriginalCommandLine>(options, details, false);
  }
  WebInstallerSourceSettings sourceSettings;
  sourceSettings.retryDelay = m_timings.componentRetryDelay;
  LaunchSettings launchSettings;
  launchSettings.retryInterval = m_timings.launchRetryInterval;
  launchSettings.limit = m_timings.launchLimit;
  return CInstallManager::Create(std::make_shared<CWebInstallerSource>(details, sourceSettings),
                                 std::make_unique<CInstallerLauncher>(commandLine, launchSettings), session);
}

}  // namespace CustomInstaller::Core
