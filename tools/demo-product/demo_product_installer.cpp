// The demo product installer: stands in for the suite's real installer in the demo and the
// end-to-end tests. It records the arguments it got, "installs" Quarro Omnikit into the
// registry root and ProgramData folder named by OMK_REGISTRY_ROOT and OMK_PROGRAMDATA (an
// uninstall key, the main executable, "Lumevo.ini" holding the tracking UID it was given), and
// exits with the code OMK_DEMO_EXIT_CODE names (0 when unset). Without both folders set it
// installs nothing and exits 3, so it never touches the machine's own folders.
//   OMK_DEMO_ARGS_LOG   file that gets one line per run: the arguments, each in [brackets]
//   OMK_DEMO_PATH_LOG   file that gets one line per run: the path the installer ran from
//   OMK_DEMO_RUN_LOG    file that gets "started <ns since the epoch>" first thing and
//                       "exit <code>" at the end of each run
//   OMK_DEMO_SIGNAL_PARENT  a signal number sent to the program that started it (as a user's
//                       Ctrl+C would reach the setup while the installer runs)
//   OMK_DEMO_HOLD_FIFO  a FIFO: before installing, the installer waits until a writer has
//                       opened it and closed it again (a test holds the setup mid-run)
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "platform/environment.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

// The value of "/NAME=value" among the arguments, or empty.
std::string OptionValue(int argc, char** argv, const std::string& name) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind(name + "=", 0) == 0) return arg.substr(name.size() + 1);
  }
  return "";
}

// Appends one line to the run log, when there is one.
void RunLog(const std::string& line) {
  if (const char* log = std::getenv("OMK_DEMO_RUN_LOG")) std::ofstream(log, std::ios::app) << line << '\n';
}

int Install(int argc, char** argv);

}  // namespace

int main(int argc, char** argv) {
  const auto started = std::chrono::system_clock::now().time_since_epoch();
  RunLog("started " + std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(started).count()));
  if (const char* signal = std::getenv("OMK_DEMO_SIGNAL_PARENT")) ::kill(::getppid(), std::atoi(signal));
  if (const char* fifo = std::getenv("OMK_DEMO_HOLD_FIFO")) {
    const int fd = ::open(fifo, O_RDONLY | O_CLOEXEC);  // returns once a writer opens it
    char byte;
    while (fd >= 0 && ::read(fd, &byte, 1) > 0) {
    }
    if (fd >= 0) ::close(fd);
  }
  const int code = Install(argc, argv);
  RunLog("exit " + std::to_string(code));
  return code;
}

namespace {

int Install(int argc, char** argv) {
  if (const char* log = std::getenv("OMK_DEMO_ARGS_LOG")) {
    std::ofstream out(log, std::ios::app);
    for (int i = 1; i < argc; ++i) out << '[' << argv[i] << ']';
    out << '\n';
  }
  if (const char* log = std::getenv("OMK_DEMO_PATH_LOG")) {
    std::error_code ec;
    std::ofstream(log, std::ios::app) << fs::read_symlink("/proc/self/exe", ec).string() << '\n';
  }
  const char* exitCode = std::getenv("OMK_DEMO_EXIT_CODE");
  const int code = exitCode ? std::atoi(exitCode) : 0;
  if (code != 0) return code;  // a failed or cancelled installation installs nothing

  if (!std::getenv("OMK_REGISTRY_ROOT") || !std::getenv("OMK_PROGRAMDATA")) {
    std::cerr << "omk-demo-product: set OMK_REGISTRY_ROOT and OMK_PROGRAMDATA; nothing installed\n";
    return 3;
  }
  try {
    const fs::path suite = Platform::GetProgramDataFolder() / "Quarro" / "Quarro Omnikit";
    const fs::path program = suite / "program";
    fs::create_directories(program);
    fs::copy_file(Platform::GetModulePath(), program / "Quarro Omnikit.exe", fs::copy_options::overwrite_existing);
    const std::wstring key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quarro Omnikit";
    Platform::RegCreateKey(Platform::RegistryHive::LocalMachine, key, Platform::RegistryView::View64);
    Platform::RegSetValue(Platform::RegistryHive::LocalMachine, key, L"UninstallString",
                          Platform::RegistryValue::Text(Platform::Utf8ToWide((program / "uninstall").string())),
                          Platform::RegistryView::View64);
    Platform::RegSetValue(Platform::RegistryHive::LocalMachine, key, L"DisplayVersion",
                          Platform::RegistryValue::Text(L"3.10.1.2"), Platform::RegistryView::View64);

    const fs::path settings = suite / Platform::WideToUtf8(Platform::GetInteractiveUserKey()) / "Lumevo.ini";
    fs::create_directories(settings.parent_path());
    std::ofstream ini(settings, std::ios::trunc);
    ini << "[Common]\nlanguage=English\nsplashShow=true\ncreateSystemRestorePoints=true\n"
           "showScanInProgressDialog=true\nshowOptimizeConfirmDialog=true\nenableScheduledTasks=true\n"
           "enableCheckUpdatesOnStartup=true\nallScannersStarts=false\nenableTracking=true\n"
        << "trackingUid=" << OptionValue(argc, argv, "/GA_TRACKING_UID") << "\nallowOffers=true\n";
    if (!ini) throw std::runtime_error("cannot write " + settings.string());
  } catch (const std::exception& e) {
    std::cerr << "omk-demo-product: " << e.what() << '\n';
    return 2;
  }
  return 0;
}

}  // namespace
