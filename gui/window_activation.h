#pragma once
// Top-level windows of other programs: found by title, brought to the front.
#include <string>

#include "platform/top_level_windows.h"

namespace CustomInstaller::Gui {

using WindowHandle = Platform::NativeWindow;

// Raises the window and has it activated; nothing for no window (0 or all bits set) and
// without a display.
void BringWindowToFront(WindowHandle window);

class CWindowActivation {
 public:
  // The topmost top-level window with exactly this title; 0 when none (or no display).
  WindowHandle FindTopLevelWindow(const std::wstring& title);
  void BringWindowToFront(WindowHandle window);
};

}  // namespace CustomInstaller::Gui
