#pragma once
// Builds the object graph of one installation mode: an install manager that owns the web
// installer source and the launcher, with the pass-through command line of the mode.
#include <chrono>
#include <memory>

#include "app/startup_ports.h"

namespace CustomInstaller::Core {

// The waits of the installation core. The defaults are the real ones; the end-to-end test
// build of the program uses short ones.
struct GraphTimings {
  std::chrono::milliseconds componentRetryDelay{3000};
  uint32_t launchRetryInterval = 3000;  // milliseconds
  uint64_t launchLimit = 120000;        // milliseconds
};

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
