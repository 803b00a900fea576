#pragma once
// Drives one installation: fetch the product installer, run it, report the outcome.
#include <memory>

#include "core/progress_callback.h"

namespace CustomInstaller::Core {

class IInstallManager {
 public:
  virtual ~IInstallManager() = default;
  // Begins an attempt; the progress callback may be empty (window-less mode).
  virtual bool Start(std::shared_ptr<JS::IInstallProgressJSCallback> progress) = 0;
  virtual bool Cancel() = 0;
  // Interrupts the workers and returns once they have ended.
  virtual void Stop() = 0;
};

}  // namespace CustomInstaller::Core
