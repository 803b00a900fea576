// omk-guard-helper: another program for the single-instance, uninstaller and browser-emulation
// tests. Does what its options say, prints one line per step and "ready", then holds
// everything until its standard input ends (the browser-emulation value is deleted then).
//   --instance        takes the setup's single-instance guard (machine-wide; --local: the
//                     session's) with the suite's suffix: "instance acquired" or "instance refused"
//   --mutex NAME      creates a named mutex: "mutex created", "mutex exists" or "mutex failed"
//   --window TITLE    shows a top-level window of this process on $DISPLAY: "window <id>"
//   --new-session     moves to a login session of its own (needs the right to set its login
//                     uid): "session <id>" or "session failed"
//   --emulation       writes the browser-emulation value for its own file name:
//                     "emulation <name> set" or "emulation <name> failed"
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "gui/one_instance.h"
#include "browser/browser_emulation.h"
#include "gui/one_instance.h"
#include "platform/named_mutex.h"
#include "platform/text.h"
#include "tests/support/x_client.h"

int main(int argc, char** argv) {
  bool instance = false, local = false, emulation = false, newSession = false;
  std::optional<std::string> mutexName, windowTitle;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--instance") {
      instance = true;
    } else if (arg == "--local") {
      local = true;
    } else if (arg == "--new-session") {
      newSession = true;
    } else if (arg == "--emulation") {
      emulation = true;
    } else if (arg == "--mutex" && i + 1 < argc) {
      mutexName = argv[++i];
    } else if (arg == "--window" && i + 1 < argc) {
      windowTitle = argv[++i];
    } else {
      std::cerr << "omk-guard-helper: unknown option " << arg << '\n';
      return 2;
    }
  }

  if (newSession) {
    // The system opens a new audit session when a process without a login uid gets one.
    bool moved = static_cast<bool>(std::ofstream("/proc/self/loginuid") << ::getuid());
    std::string id;
    moved = moved && std::getline(std::ifstream("/proc/self/sessionid") >> std::ws, id) && id != "4294967295";
    std::cout << "session " << (moved ? id : "failed") << std::endl;
  }
  CustomInstaller::Gui::COneInstance guard;
  if (instance) {
    const bool acquired =
        guard.Acquire(local, std::make_unique<CustomInstaller::Gui::CProductNameSpecificGenerator>());
    std::cout << "instance " << (acquired ? "acquired" : "refused") << std::endl;
  }
  Platform::NamedMutex mutex;
  if (mutexName) {
    const auto status = Platform::NamedMutex::Create(Platform::Utf8ToWide(*mutexName), mutex);
    std::cout << "mutex "
              << (status == Platform::NamedMutexStatus::Created         ? "created"
                  : status == Platform::NamedMutexStatus::AlreadyExists ? "exists"
                                                                        : "failed")
              << std::endl;
  }
  std::unique_ptr<TestSupport::XClient> x;
  if (windowTitle) {
    const char* display = std::getenv("DISPLAY");
    x = std::make_unique<TestSupport::XClient>(display ? display : "");
    TestSupport::XWindowOptions options;
    options.title = *windowTitle;
    std::cout << "window " << x->CreateWindow(options) << std::endl;
  }
  const std::wstring valueName = BrowserControl::GetBrowserEmulationValueName();
  if (emulation) {
    const bool set = BrowserControl::SetBrowserEmulation(valueName, BrowserControl::kBrowserEmulationIE11);
    std::cout << "emulation " << Platform::WideToUtf8(valueName) << (set ? " set" : " failed") << std::endl;
  }
  std::cout << "ready" << std::endl;

  char byte;
  while (::read(0, &byte, 1) > 0) {
  }
  if (emulation) BrowserControl::DeleteBrowserEmulation(valueName);
  guard.Release();
  return 0;
}
