#pragma once
// Runs the fetched product installer once its file is ready and maps its exit code onto the
// install manager's callbacks.
#include <cstdint>
#include <memory>

#include <boost/thread/thread.hpp>

#include "core/install_manager.h"
#include "core/nsis_command_line.h"
#include "core/progress_sender.h"
#include "core/waits.h"
#include "platform/clock.h"

namespace CustomInstaller::Core {

struct LaunchSettings {
  uint64_t retryInterval = GraphTimings{}.launchRetryInterval;  // milliseconds between attempts
  uint64_t limit = GraphTimings{}.launchLimit;                  // milliseconds from the first attempt
  std::shared_ptr<Platform::IClock> clock;          // the launch loop's; empty: the system clock
  std::shared_ptr<Platform::IClock> progressClock;  // the progress reports'; empty: the system clock
};

class CInstallerLauncher : public IInstallerLauncher {
 public:
  explicit CInstallerLauncher(std::shared_ptr<INSISCommandLine> commandLine,
                              LaunchSettings settings = {});
  // Stops the worker like Stop.
  ~CInstallerLauncher() override;
  CInstallerLauncher(const CInstallerLauncher&) = delete;
  CInstallerLauncher& operator=(const CInstallerLauncher&) = delete;

  // Stops an earlier worker and starts a new one for `installer`, which runs once the earlier
  // one has ended; returns without waiting for it. False when no thread could be started.
  bool Launch(std::shared_ptr<IInstaller> installer, std::weak_ptr<IInstallerLauncherCallback> callback,
              std::shared_ptr<JS::IInstallProgressJSCallback> progress) override;
  // A started installation is not cancelled: false.
  bool Cancel() override;
  // Interrupts the worker's current pause between attempts and waits for the worker to end.
  // The remaining attempts still run, and a started product installer is waited for.
  void Stop() override;

 private:
  void StopWorker();
  void Run();
  void RunImpl(const std::shared_ptr<IInstaller>& installer);

  std::unique_ptr<boost::thread> m_worker;
  std::weak_ptr<IInstallerLauncherCallback> m_callback;
  std::shared_ptr<IInstaller> m_installer;
  std::weak_ptr<JS::IInstallProgressJSCallback> m_progress;
  std::shared_ptr<INSISCommandLine> m_commandLine;
  LaunchSettings m_settings;
};

// The text that starts the product installer: its path in quotes, a space and the arguments,
// trimmed. Empty when the path is empty or cannot be written in quotes.
std::wstring MakeInstallerCommandLine(const std::wstring& path, const std::wstring& arguments);

}  // namespace CustomInstaller::Core
