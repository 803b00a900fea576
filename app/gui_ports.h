#pragma once
// The start-up's ports to the single-instance guard, window activation, uninstaller check and
// browser-emulation setting of gui/.
#include <memory>
#include <string>

#include "app/startup_ports.h"
#include "gui/browser_emulation_setting.h"
#include "gui/one_instance.h"
#include "gui/uninstaller_check.h"
#include "gui/window_activation.h"

namespace CustomInstaller {

class CGuardPorts final : public ISingleInstanceGuard,
                          public IWindowActivation,
                          public IUninstallerCheck,
                          public IBrowserEmulation {
 public:
  bool Acquire(bool local, std::unique_ptr<IMNSuffixGenerator> generator) override {
    return m_guard.Acquire(local, std::move(generator));
  }
  void Release() override { m_guard.Release(); }
  WindowHandle FindTopLevelWindow(const std::wstring& title) override { return m_windows.FindTopLevelWindow(title); }
  void BringWindowToFront(WindowHandle window) override { m_windows.BringWindowToFront(window); }
  bool IsUninstallerRunning() override { return m_uninstaller.IsUninstallerRunning(); }
  bool Set(const std::wstring& valueName) override { return m_emulation.Set(valueName); }
  bool Remove(const std::wstring& valueName) override { return m_emulation.Remove(valueName); }

 private:
  Gui::COneInstance m_guard;
  Gui::CWindowActivation m_windows;
  Gui::CUninstallerCheck m_uninstaller;
  Gui::CBrowserEmulation m_emulation;
};

}  // namespace CustomInstaller
