#pragma once
// What the start-up asks of the installation core: the run's analytics session and the object
// graph of each installation mode.
#include <memory>

#include "core/install_manager.h"
#include "core/installer_options.h"
#include "core/session_handler.h"

namespace CustomInstaller {

class ISessionHandlerFactory {
 public:
  virtual ~ISessionHandlerFactory() = default;
  // Builds the run's analytics session handler; construction opens the session.
  virtual std::shared_ptr<IGASessionHandler> Create(const InstallerOptions& options) = 0;
};

// The three object graphs differ only in the command line the product installer gets.
enum class EInstallGraph {
  Windowed,  // the page drives it; the product installer runs without its own UI
  Fallback,  // after the window never showed; the product installer shows its own UI
  Silent,    // "/S" or "/VS"
};

class IInstallGraphFactory {
 public:
  virtual ~IInstallGraphFactory() = default;
  virtual std::shared_ptr<Core::IInstallManager> Build(
      EInstallGraph kind, const std::shared_ptr<IGASessionHandler>& session,
      const InstallerOptions& options, const InstallationDetails& details) = 0;
};

}  // namespace CustomInstaller
