// omk-setup: the web setup program of the suite.
#include <chrono>
#include <exception>
#include <iostream>
#include <memory>
#include <vector>

#include "app/extract_tracking_uid.h"
#include "app/gui_ports.h"
#include "app/startup.h"
#include "app/startup_analytics.h"
#include "app/window_host.h"
#include "core/install_graph.h"
#include "core/session_handler.h"
#include "core/session_handler_factory.h"
#include "metrics/app_metrics.h"
#include "network/connection.h"
#include "platform/command_line.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/termination.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  // The product installer's exit code is read by waiting for it; an end by Ctrl+C or SIGTERM
  // takes the fetched installer file with it.
  Platform::RestoreChildSignalDefault();
  Platform::InstallTerminationCleanup();
  CustomInstaller::StartupWiring wiring;
  wiring.analytics = std::make_shared<CustomInstaller::CMetricsStartupAnalytics>();
  wiring.trackingUid = std::make_shared<CustomInstaller::CExtractTrackingUid>();
  wiring.sessions = std::make_shared<CustomInstaller::CGASessionHandlerFactory>();
  const auto guard = std::make_shared<CustomInstaller::CGuardPorts>();
  wiring.singleInstance = guard;
  wiring.windows = guard;
  wiring.uninstaller = guard;
  wiring.browserEmulation = guard;
  wiring.window = std::make_shared<CustomInstaller::CInstallerWindowHost>();
#ifdef OMK_SHORT_DELAYS
  // The end-to-end test build: the same program with the core's waits cut to milliseconds and
  // the network's bounds on a hostile server to seconds.
  wiring.graphs = std::make_shared<CustomInstaller::Core::CInstallGraphFactory>(
      CustomInstaller::Core::GraphTimings{20, 20, 1500});
  {
    using namespace std::chrono_literals;
    auto network = Cxx::Network::Http::HttpClient::DefaultConnectionSettings();
    network.resumePause = 20ms;
    network.stallTimeout = 2s;
    network.lowSpeedWindow = 3s;
    network.replyTimeout = 4s;
    Cxx::Network::Http::HttpClient::SetDefaultConnectionSettings(network);
  }
#else
  wiring.graphs = std::make_shared<CustomInstaller::Core::CInstallGraphFactory>();
#endif
  CustomInstaller::InstallUidProvider();
  try {
    wiring.programFileName = Platform::Utf8ToWide(Platform::GetModulePath().filename().string());
  } catch (const std::exception&) {
    // Without its own path the program still runs; the browser-emulation value is then unnamed.
  }
  int exitCode = 1;
  try {
    std::vector<std::size_t> leftOut;
    const std::wstring commandLine = Platform::GetCommandLineText(argc, argv, &leftOut);
    for (const std::size_t position : leftOut) {
      std::cerr << "omk-setup: argument " << position
                << " is left out: it holds a double quote, or text that would be read as other options\n";
    }
    exitCode = CustomInstaller::RunSetup(commandLine, wiring, std::cerr);
  } catch (const std::exception& e) {
    std::cerr << "omk-setup: " << e.what() << '\n';
  }
  // The analytics sender's shutdown: the queue drains (at most 20 seconds), else the session
  // end goes out once directly.
  AppMetrics::DestroyGoogleAnalyticsMetrics();
  return exitCode;
}
