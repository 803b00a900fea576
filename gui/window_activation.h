#pragma once
// Top-level windows of other programs: found by title, brought to the front.
#include <string>

#include "app/startup_ports.h"

namespace CustomInstaller::Gui {

// Raises the window and has it activated; nothing for no window (0 or all bits set) and
// without a display.
void BringWindowToFront(WindowHandle window);

class CWindowActivation : public IWindowActivation {
 public:
  // The topmost top-level window with exactly this title; kNoWindow when none (or no display).
  WindowHandle FindTopLevelWindow(const std::wstring& title) override;
  void BringWindowToFront(WindowHandle window) override;
};

}  // namespace CustomInstaller::Gui
