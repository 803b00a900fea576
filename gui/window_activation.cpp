#include "gui/window_activation.h"

#include "platform/top_level_windows.h"

namespace CustomInstaller::Gui {

void BringWindowToFront(WindowHandle window) {
  if (window == 0 || window == ~WindowHandle{0}) return;
  Platform::BringWindowToFront(window);
}

WindowHandle CWindowActivation::FindTopLevelWindow(const std::wstring& title) {
  return Platform::FindTopLevelWindow(title);
}

void CWindowActivation::BringWindowToFront(WindowHandle window) { Gui::BringWindowToFront(window); }

}  // namespace CustomInstaller::Gui
