#pragma once
// The embedded browser's engine setting for this program while it runs: the value
// (REG_DWORD 11000, under HKEY_CURRENT_USER) written at start-up and removed at exit.
#include <string>

#include "app/startup_ports.h"

namespace CustomInstaller::Gui {

class CBrowserEmulation : public IBrowserEmulation {
 public:
  // True when the value is written; false for an empty name or a registry failure.
  bool Set(const std::wstring& valueName) override;
  // True when the value existed and is gone.
  bool Remove(const std::wstring& valueName) override;
};

}  // namespace CustomInstaller::Gui
