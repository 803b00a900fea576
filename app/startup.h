#pragma once
// The program's entry sequence: answer a tracking-UID request, or run one installation.
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "app/startup_ports.h"
#include "platform/clock.h"

namespace CustomInstaller {

// The collaborators of the start-up sequence. A missing one (empty pointer) is a part this
// build does not have: the sequence says so on the notice stream and goes on without it
// where the installation can, or ends the run where it cannot.
struct StartupWiring {
  std::shared_ptr<ITrackingUidAnswer> trackingUid;
  std::shared_ptr<ISingleInstanceGuard> singleInstance;
  std::shared_ptr<IWindowActivation> windows;
  std::shared_ptr<IUninstallerCheck> uninstaller;
  std::shared_ptr<ISessionHandlerFactory> sessions;
  std::shared_ptr<IBrowserEmulation> browserEmulation;
  std::shared_ptr<IStartupAnalytics> analytics;
  std::shared_ptr<IInstallGraphFactory> graphs;
  std::shared_ptr<IInstallerWindowHost> window;
  // Waits the "/DELAY" seconds; the system clock when empty.
  std::shared_ptr<Platform::IClock> clock;
  // This program's file name without its folder (the browser-emulation value name).
  std::wstring programFileName;
};

// Runs the start-up sequence on the program's command-line text and returns the exit code:
// 1 when a "-extractTrackingUID" request fails, 0 otherwise.
int RunSetup(std::wstring_view commandLine, const StartupWiring& wiring, std::ostream& notices);

}  // namespace CustomInstaller
