#include "app/startup.h"


#include "app/installers.h"
#include "core/command_line_arguments.h"
#include "config/identity.h"

namespace CustomInstaller {

namespace {

constexpr const char* kPrefix = "omk-setup: ";

bool IsWindow(WindowHandle window) { return window != kNoWindow && window != kInvalidWindow; }

void SendEvent(const StartupWiring& wiring, const wchar_t* action, int64_t value) {
  if (wiring.analytics) wiring.analytics->SendEvent(action, L"Install", L"", value);
}

// Whether this build has what the chosen mode needs; says on the notice stream what it lacks.
bool CanInstall(const InstallerOptions& options, const StartupWiring& wiring, std::ostream& notices) {
  const bool windowed = !options.silent && !options.verySilent;
  if (!wiring.graphs) {
    notices << kPrefix << "cannot run the " << (windowed ? "windowed" : "silent")
            << " installation: the installation core (component service, download, signer "
               "check, launch) is not part of this build; nothing was installed\n";
    return false;
  }
  if (windowed && !wiring.window) {
    notices << kPrefix
            << "cannot run the windowed installation: the installer window is not part of "
               "this build; nothing was installed\n";
    return false;
  }
  return true;
}

// Runs the chosen mode (CanInstall has said yes).
void RunMode(const InstallerOptions& options, const InstallationDetails& details,
             const std::shared_ptr<IGASessionHandler>& session, const StartupWiring& wiring) {
  const bool windowed = !options.silent && !options.verySilent;
  const auto runBasic = [&](EInstallGraph kind) {
    const auto manager = wiring.graphs->Build(kind, session, options, details);
    CBasicInstaller(manager).Run();
  };

  if (windowed) {
    bool done = false;
    {
      const auto manager = wiring.graphs->Build(EInstallGraph::Windowed, session, options, details);
      done = CWebInstaller(manager, details, *wiring.window, wiring.analytics.get()).Run();
      // The workers end here, so the graph's last reference goes on this thread too: a worker
      // that dropped it last would wait for itself in the source's and downloader's destructors.
      if (manager) manager->Stop();
    }
    if (!done) runBasic(EInstallGraph::Fallback);
    return;
  }
  if (options.verySilent && wiring.analytics) wiring.analytics->SetAutoSessionControl(true);
  runBasic(EInstallGraph::Silent);
}

// The start-up's finish, run by its destructor on every way out of the installation: release the
// single-instance guard, remove the emulation value, send "InstallerFinishW", finish the session.
// Each step that was armed runs; one that fails does not keep the next ones from running.
struct CFinishSteps {
  const StartupWiring& wiring;
  std::shared_ptr<IGASessionHandler>& session;
  bool& emulationSet;
  bool& started;
  ~CFinishSteps() {
    Step([&] { if (wiring.singleInstance) wiring.singleInstance->Release(); });
    Step([&] { if (emulationSet) wiring.browserEmulation->Remove(wiring.programFileName); });
    Step([&] { if (started) SendEvent(wiring, L"InstallerFinishW", -1); });
    Step([&] { if (session) session->FinishSession(); });
  }
  static void Step(const std::function<void()>& step) {
    try {
      step();
    } catch (...) {
    }
  }
};

}  // namespace

int RunSetup(std::wstring_view commandLine, const StartupWiring& wiring, std::ostream& notices) {
  const CCommandLineArguments arguments(commandLine);

  std::wstring answerPath;
  if (arguments.GetArgument(Options::kExtractTrackingUid, answerPath)) {
    if (!wiring.trackingUid) {
      notices << kPrefix
              << "cannot answer -extractTrackingUID: reading the installed suite's settings is "
                 "not part of this build yet\n";
      return 1;
    }
    return wiring.trackingUid->ExtractTrackingUid(answerPath) ? 0 : 1;
  }

  if (wiring.singleInstance) {
    if (!wiring.singleInstance->Acquire(false, std::make_unique<CProductNameSpecificGenerator>())) {
      if (wiring.windows) {
        wiring.windows->BringWindowToFront(
            wiring.windows->FindTopLevelWindow(Config::kSetupWindowTitle));
      }
      notices << kPrefix << "another setup is already running; this one ends\n";
      return 0;
    }
  } else {
    notices << kPrefix << "skipped the single-instance check: not part of this build yet\n";
  }
  if (wiring.windows) {
    const WindowHandle uninstaller = wiring.windows->FindTopLevelWindow(Config::kUninstallWindowTitle);
    if (IsWindow(uninstaller)) {
      wiring.windows->BringWindowToFront(uninstaller);
      notices << kPrefix << "the uninstaller's window is open; this setup ends\n";
      return 0;
    }
  }
  if (wiring.uninstaller && wiring.uninstaller->IsUninstallerRunning()) {
    notices << kPrefix << "the uninstaller is running; this setup ends\n";
    return 0;
  }

  // The finish steps run on every way out from here, an exception included. The mode's objects
  // (and the temporary files they hold) are gone by then.
  std::shared_ptr<IGASessionHandler> session;
  bool emulationSet = false;
  bool started = false;
  CFinishSteps finish{wiring, session, emulationSet, started};

  const InstallerOptions options(commandLine);
  const InstallationDetails details(options);
  // A run that cannot install anything opens no session and reports no start.
  if (!CanInstall(options, wiring, notices)) return 0;  // the guard is released on the way out

  if (wiring.sessions) {
    session = wiring.sessions->Create(options);
  } else {
    notices << kPrefix << "no analytics session: not part of this build yet\n";
  }
  if (wiring.browserEmulation) {
    emulationSet = true;
    wiring.browserEmulation->Set(wiring.programFileName);
  }
  started = true;
  SendEvent(wiring, L"InstallerStartW", options.silent || options.verySilent ? 0 : 1);

  if (options.delay > 0) {
    const auto clock = wiring.clock ? wiring.clock : Platform::SystemClock();
    clock->Sleep(uint64_t{options.delay} * 1000);
  }

  RunMode(options, details, session, wiring);
  return 0;
}

}  // namespace CustomInstaller
