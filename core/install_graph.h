#pragma once
// Builds the object graph of one installation mode: an install manager that owns the web
// installer source and the launcher, with the pass-through command line of the mode.
#include <memory>

#include "core/install_ports.h"
#include "core/waits.h"

namespace CustomInstaller::Core {

class CInstallGraphFactory : public IInstallGraphFactory {
 public:
  explicit CInstallGraphFactory(GraphTimings timings = {}) : m_timings(timings) {}
  std::shared_ptr<IInstallManager> Build(EInstallGraph kind, const std::shared_ptr<IGASessionHandler>& session,
                                         const InstallerOptions& options,
                                         const InstallationDetails& details) override;

 private:
  GraphTimings m_timings;
};

}  // namespace CustomInstaller::Core
