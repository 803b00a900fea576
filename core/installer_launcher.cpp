#include "core/installer_launcher.h"

#include <boost/thread/latch.hpp>
#include <cerrno>
#include <string>
#include <utility>

#include "core/install_codes.h"
#include "core/installer_file.h"
#include "metrics/app_metrics.h"
#include "platform/process.h"

namespace CustomInstaller::Core {

namespace {

void SendLaunchException(const char* context, const InstallException& kind, uint32_t code) {
  AppMetrics::CExceptionData exception;
  exception.details = context;
  exception.description = kind.description;
  exception.code = code;
  exception.severity = kind.severity;
  AppMetrics::SendException(exception);
}

// Everything one run needs, copied, so the worker never reaches back into the launcher: the
// manager may drop the launcher from inside the final callback on this very thread.
struct LaunchRun {
  std::shared_ptr<IInstaller> installer;
  std::weak_ptr<IInstallerLauncherCallback> callback;
  std::weak_ptr<JS::IInstallProgressJSCallback> progress;
  std::shared_ptr<INSISCommandLine> commandLine;
  LaunchSettings settings;
};

void Failed(const LaunchRun& run, uint32_t flag) {
  if (const auto callback = run.callback.lock()) callback->OnLaunchFailed(flag);
}

void LaunchInstaller(const LaunchRun& run) {
  // Only the pauses between attempts may be cut short; a started product installer, the
  // outcome and the reports run to their end.
  boost::this_thread::disable_interruption noInterruption;
  const auto& installer = run.installer;
  if (!installer) {
    Failed(run, kLaunchFailed);
    SendLaunchException("!m_installer", InstallExceptions::kNotStarted, 0);
    return;
  }
  const std::wstring arguments = run.commandLine ? run.commandLine->Build() : std::wstring();
  Platform::IClock& clock = *run.settings.clock;

  Utils::CProgressSender progress(run.progress, Utils::CProgressSender::kStart,
                                  Utils::CProgressSender::kMaximum, Utils::CProgressSender::kInterval,
                                  Utils::CProgressSender::kFactor, run.settings.progressClock);
  progress.Begin();

  const uint64_t start = clock.NowMilliseconds();
  int32_t status = kInstallerWriteFailed;
  int statusError = 0;
  int startError = 0;
  bool created = false;
  uint32_t exitCode = 0;
  for (;;) {
    errno = 0;
    status = installer->GetStatus();
    statusError = errno;
    if (status == kInstallerReady) {
      errno = 0;
      const std::wstring commandLine = MakeInstallerCommandLine(installer->GetPath(), arguments);
      // The platform reports why a start failed in errno.
      created = !commandLine.empty() && Platform::RunProcess(commandLine, exitCode);
      startError = errno;
      if (created) break;
    }
    try {
      boost::this_thread::restore_interruption interruptible(noInterruption);
      clock.Sleep(run.settings.retryInterval);
    } catch (const boost::thread_interrupted&) {
      // Stop cut the pause short: the attempts go on at their pace (interruption is off here).
      clock.Sleep(run.settings.retryInterval);
    }
    if (clock.NowMilliseconds() - start >= run.settings.limit) break;
  }
  progress.End();

  if (!created) {
    if (status == kInstallerReady) {
      SendLaunchException("", InstallExceptions::kNotStarted, static_cast<uint32_t>(startError));
    } else if (status == kInstallerUnreadable) {
      SendLaunchException("", InstallExceptions::kUnreadable, static_cast<uint32_t>(statusError));
    } else {
      SendLaunchException("", InstallExceptions::kNeverReady, static_cast<uint32_t>(status));
    }
    Failed(run, status == kInstallerRewritten ? kLaunchRejectedFile : kLaunchFailed);
    return;
  }
  switch (exitCode) {
    case 0:
      if (const auto callback = run.callback.lock()) callback->OnLaunchSucceeded();
      break;
    case 1: {
      AppMetrics::SendEvent({"InstallerCancelW", "Install", "NSIS", -1});
      if (const auto callback = run.callback.lock()) callback->OnLaunchCancelled();
      break;
    }
    default:
      SendLaunchException("", InstallExceptions::kInstallerFailed, exitCode);
      Failed(run, kLaunchFailed);
      break;
  }
}

void RunLaunch(const LaunchRun& run) {
  try {
    LaunchInstaller(run);
  } catch (...) {
    const int lastError = errno;
    boost::this_thread::disable_interruption noInterruption;
    Failed(run, kLaunchFailed);
    SendLaunchException("catch(...) launchInstallerImpl", InstallExceptions::kNotStarted, static_cast<uint32_t>(lastError));
  }
}

}  // namespace

std::wstring MakeInstallerCommandLine(const std::wstring& path, const std::wstring& arguments) {
  // A quote cannot be written inside the quoted program path of a command line.
  if (path.empty() || path.find(L'"') != std::wstring::npos) return {};
  std::wstring text = L"\"" + path + L"\" " + arguments;
  const wchar_t* const blanks = L" \t\r\n";
  const auto last = text.find_last_not_of(blanks);
  text.erase(last + 1);
  return text;
}

CInstallerLauncher::CInstallerLauncher(std::shared_ptr<INSISCommandLine> commandLine, LaunchSettings settings)
    : m_commandLine(std::move(commandLine)), m_settings(std::move(settings)) {
  if (!m_settings.clock) m_settings.clock = Platform::SystemClock();
  if (!m_settings.progressClock) m_settings.progressClock = Platform::SystemClock();
}

CInstallerLauncher::~CInstallerLauncher() { StopWorker(); }

bool CInstallerLauncher::Launch(std::shared_ptr<IInstaller> installer,
                                std::weak_ptr<IInstallerLauncherCallback> callback,
                                std::shared_ptr<JS::IInstallProgressJSCallback> progress) {
  // An earlier run is stopped, but not waited for here: its product installer may run for
  // minutes, and Launch is called from the page's and the download's threads. The new run
  // waits for it on its own thread, so only one product installer runs at a time.
  std::shared_ptr<boost::thread> earlier(std::move(m_worker));
  if (earlier && earlier->get_id() == boost::this_thread::get_id()) {
    earlier->detach();  // launched again from inside the earlier run's final callback
    earlier.reset();
  }
  if (earlier) earlier->interrupt();
  m_callback = std::move(callback);
  m_progress = progress;
  m_installer = std::move(installer);
  LaunchRun run{m_installer, m_callback, m_progress, m_commandLine, m_settings};
  // The worker is recorded before it runs: its final callback may drop this launcher, whose
  // destructor must then find it.
  const auto recorded = std::make_shared<boost::latch>(1);
  try {
    m_worker = std::make_unique<boost::thread>([run = std::move(run), earlier, recorded] {
      {
        boost::this_thread::disable_interruption noInterruption;
        recorded->wait();
      }
      if (earlier) {
        boost::this_thread::disable_interruption noInterruption;
        earlier->join();
      }
      RunLaunch(run);
    });
    recorded->count_down();
  } catch (const boost::thread_resource_error&) {
    if (earlier) {
      boost::this_thread::disable_interruption noInterruption;
      earlier->join();
    }
    return false;
  }
  return true;
}

bool CInstallerLauncher::Cancel() { return false; }

void CInstallerLauncher::Stop() { StopWorker(); }

void CInstallerLauncher::StopWorker() {
  if (!m_worker) return;
  if (m_worker->get_id() == boost::this_thread::get_id()) {
    // Dropped from inside our own final callback: the run touches nothing of ours any more.
    m_worker->detach();
  } else {
    m_worker->interrupt();
    m_worker->join();
  }
  m_worker.reset();
}

}  // namespace CustomInstaller::Core
