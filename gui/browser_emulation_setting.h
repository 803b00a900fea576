#pragma once
// The embedded browser's engine setting for this program while it runs: the value
// (REG_DWORD 11000, under HKEY_CURRENT_USER) written at start-up and removed at exit.
#include <string>


namespace CustomInstaller::Gui {

class CBrowserEmulation {
 public:
  // True when the value is written; false for an empty name or a registry failure.
  bool Set(const std::wstring& valueName);
  // True when the value existed and is gone.
  bool Remove(const std::wstring& valueName);
};

}  // namespace CustomInstaller::Gui
