#pragma once
// The two installer modes: the HTML window, and the installation without any window.
#include <memory>

#include "core/installer_options.h"
#include "app/startup_ports.h"
#include "core/install_manager.h"

namespace CustomInstaller {

// End code of the installer window when the page never asked to be shown.
inline constexpr int kExitNotShown = 32000;

class IInstaller {
 public:
  virtual ~IInstaller() = default;
  // True when this mode did its job, false when the caller should fall back to another mode.
  virtual bool Run() = 0;
};

class CWebInstaller : public IInstaller {
 public:
  CWebInstaller(std::weak_ptr<Core::IInstallManager> installManager,
                const InstallationDetails& details, IInstallerWindowHost& window,
                IStartupAnalytics* analytics);
  bool Run() override;

 private:
  std::weak_ptr<Core::IInstallManager> m_installManager;
  InstallationDetails m_details;
  IInstallerWindowHost& m_window;
  IStartupAnalytics* m_analytics;
};

// Runs the installation without a window: starts the manager, waits until it reports the
// outcome (finished, failed or cancelled), then stops its workers.
class CBasicInstaller : public IInstaller {
 public:
  explicit CBasicInstaller(std::weak_ptr<Core::IInstallManager> installManager);
  bool Run() override;

 private:
  std::weak_ptr<Core::IInstallManager> m_installManager;
};

}  // namespace CustomInstaller
