#pragma once
// The start-up port that opens the run's analytics session.
#include <memory>

#include "core/install_ports.h"

namespace CustomInstaller {

class CGASessionHandlerFactory final : public ISessionHandlerFactory {
 public:
  std::shared_ptr<IGASessionHandler> Create(const InstallerOptions& options) override;
};

}  // namespace CustomInstaller
