#pragma once
// Drives one installation: fetch the product installer, run it, report the outcome.
#include <cstdint>
#include <memory>

#include "core/progress_callback.h"

namespace CustomInstaller::Core {

class IInstaller;  // the fetched installer file (core/installer_file.h)

class IInstallManager {
 public:
  virtual ~IInstallManager() = default;
  // Begins an attempt; the progress callback may be empty (window-less mode).
  virtual bool Start(std::shared_ptr<JS::IInstallProgressJSCallback> progress) = 0;
  virtual bool Cancel() = 0;
  // Interrupts the workers and returns once they have ended.
  virtual void Stop() = 0;
};

class IInstallerSourceCallback {
 public:
  virtual ~IInstallerSourceCallback() = default;
  virtual void OnSourceReady(std::shared_ptr<IInstaller> installer) = 0;
  virtual void OnSourceFailed() = 0;
  virtual void OnSourceCancelled() = 0;
};

// Why a launch failed, as OnLaunchFailed reports it.
enum ELaunchFailure : uint32_t {
  kLaunchFailed = 0,        // not started, or the product installer failed
  kLaunchRejectedFile = 1,  // the file kept failing its signature or signer check
};

class IInstallerLauncherCallback {
 public:
  virtual ~IInstallerLauncherCallback() = default;
  virtual void OnLaunchSucceeded() = 0;
  virtual void OnLaunchFailed(uint32_t flag) = 0;
  virtual void OnLaunchCancelled() = 0;
};

// Fetches the product installer.
class IInstallerSource {
 public:
  virtual ~IInstallerSource() = default;
  virtual bool Start(std::weak_ptr<IInstallerSourceCallback> callback,
                     std::shared_ptr<JS::IInstallProgressJSCallback> progress) = 0;
  virtual bool Cancel() = 0;
  // Interrupts the worker and returns once it has ended.
  virtual void Stop() = 0;
};

// Runs the fetched product installer.
class IInstallerLauncher {
 public:
  virtual ~IInstallerLauncher() = default;
  virtual bool Launch(std::shared_ptr<IInstaller> installer,
                      std::weak_ptr<IInstallerLauncherCallback> callback,
                      std::shared_ptr<JS::IInstallProgressJSCallback> progress) = 0;
  virtual bool Cancel() = 0;
  // Interrupts the worker and returns once it has ended.
  virtual void Stop() = 0;
};

}  // namespace CustomInstaller::Core
