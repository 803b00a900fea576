#include "gui/browser_emulation_setting.h"

#include "browser/browser_emulation.h"

namespace CustomInstaller::Gui {

bool CBrowserEmulation::Set(const std::wstring& valueName) {
  return BrowserControl::SetBrowserEmulation(valueName, BrowserControl::kBrowserEmulationIE11,
                                             BrowserControl::kEmulationCurrentUser, false);
}

bool CBrowserEmulation::Remove(const std::wstring& valueName) {
  return BrowserControl::DeleteBrowserEmulation(valueName, BrowserControl::kEmulationCurrentUser, false);
}

}  // namespace CustomInstaller::Gui
