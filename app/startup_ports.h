#pragma once
// What the start-up sequence and the installer modes need from the other subsystems.
// Each subsystem provides its implementation when it is built; app/main.cpp plugs them in.
#include <cstdint>
#include <memory>
#include <string>

#include "core/install_ports.h"
#include "core/installer_options.h"
#include "gui/one_instance.h"

namespace CustomInstaller {

// Top-level window of any process; 0 or all bits set mean "none".
using WindowHandle = uintptr_t;
inline constexpr WindowHandle kNoWindow = 0;
inline constexpr WindowHandle kInvalidWindow = ~WindowHandle{0};

// The single-instance guard's name suffixes (the suite's product code for the start-up).
using Gui::CProductNameSpecificGenerator;
using Gui::IMNSuffixGenerator;

class ISingleInstanceGuard {
 public:
  virtual ~ISingleInstanceGuard() = default;
  // True when this process holds (or already held) the named lock; the guard owns the generator.
  virtual bool Acquire(bool local, std::unique_ptr<IMNSuffixGenerator> generator) = 0;
  virtual void Release() = 0;
};

class IWindowActivation {
 public:
  virtual ~IWindowActivation() = default;
  virtual WindowHandle FindTopLevelWindow(const std::wstring& title) = 0;
  virtual void BringWindowToFront(WindowHandle window) = 0;
};

// Whether a copy of the suite's uninstaller is running (and then shows its window).
class IUninstallerCheck {
 public:
  virtual ~IUninstallerCheck() = default;
  virtual bool IsUninstallerRunning() = 0;
};

// Writes the installed suite's tracking UID to a file for another copy of this program.
class ITrackingUidAnswer {
 public:
  virtual ~ITrackingUidAnswer() = default;
  virtual bool ExtractTrackingUid(const std::wstring& path) = 0;
};

// The engine setting of the embedded browser while this program runs.
class IBrowserEmulation {
 public:
  virtual ~IBrowserEmulation() = default;
  virtual bool Set(const std::wstring& valueName) = 0;
  virtual bool Remove(const std::wstring& valueName) = 0;
};

// The analytics calls the start-up sequence makes.
class IStartupAnalytics {
 public:
  virtual ~IStartupAnalytics() = default;
  virtual void SendEvent(const std::wstring& action, const std::wstring& category,
                         const std::wstring& label, int64_t value) = 0;
  virtual void SendException(const std::wstring& context, const std::wstring& description,
                             int32_t code, int32_t severity) = 0;
  virtual void SetAutoSessionControl(bool on) = 0;
};

// The page files extracted for the installer window.
struct CInstallerPageFiles {
  std::wstring indexHtml;
  std::wstring indexFolder;
};

// The installer window: its page files and its modal run.
class IInstallerWindowHost {
 public:
  virtual ~IInstallerWindowHost() = default;
  // Writes the page files and returns the path of "index.html" (empty on failure).
  virtual std::wstring ExtractPageResources(CInstallerPageFiles& files) = 0;
  // Shows the window over the currently active one and returns its end code.
  virtual int RunModal(const std::wstring& pageUrl,
                       const std::shared_ptr<Core::IInstallManager>& installManager,
                       const InstallationDetails& details) = 0;
  virtual void RemovePageFiles(const CInstallerPageFiles& files) = 0;
};

}  // namespace CustomInstaller
