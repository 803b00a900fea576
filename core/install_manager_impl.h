#pragma once
// The install manager: drives the installer source and the launcher of one installation and
// turns their outcome into page notifications, funnel events and session calls.
#include <memory>
#include <mutex>

#include "core/install_manager.h"
#include "core/session_handler.h"

namespace CustomInstaller::Core {

class CInstallManager final : public IInstallManager,
                              public IInstallerSourceCallback,
                              public IInstallerLauncherCallback {
  struct Key {};

 public:
  // The only way to make one: the source and the launcher get the manager as their callback
  // through weak references filled here. Any argument may be empty: a missing source fails
  // each start, a missing launcher each launch, a missing session is not told anything.
  static std::shared_ptr<CInstallManager> Create(std::shared_ptr<IInstallerSource> source,
                                                 std::unique_ptr<IInstallerLauncher> launcher,
                                                 std::shared_ptr<IGASessionHandler> session);
  CInstallManager(Key, std::shared_ptr<IInstallerSource> source,
                  std::unique_ptr<IInstallerLauncher> launcher,
                  std::shared_ptr<IGASessionHandler> session);

  // Always true; failures reach the page through OnError.
  bool Start(std::shared_ptr<JS::IInstallProgressJSCallback> progress) override;
  // Tells the session of the cancellation; true when the source or the launcher stopped.
  bool Cancel() override;
  void Stop() override;

  void OnSourceReady(std::shared_ptr<IInstaller> installer) override;
  void OnSourceFailed() override;
  void OnSourceCancelled() override;

  void OnLaunchSucceeded() override;
  void OnLaunchFailed(uint32_t flag) override;
  void OnLaunchCancelled() override;

 private:
  std::shared_ptr<JS::IInstallProgressJSCallback> Progress();

  // Replaced by each Start on the caller's thread and read by the workers' callbacks.
  std::mutex m_progressMutex;
  std::shared_ptr<JS::IInstallProgressJSCallback> m_progress;
  std::weak_ptr<IInstallerSourceCallback> m_selfAsSourceCallback;
  std::weak_ptr<IInstallerLauncherCallback> m_selfAsLauncherCallback;
  std::shared_ptr<IInstallerSource> m_source;
  std::unique_ptr<IInstallerLauncher> m_launcher;
  std::shared_ptr<IGASessionHandler> m_session;
};

}  // namespace CustomInstaller::Core
