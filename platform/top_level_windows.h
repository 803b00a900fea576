#pragma once
// Top-level windows of other programs on the user's desktop (the X display named by $DISPLAY):
// finding one by its title or by the process that owns it, and bringing one to the front.
// Without a display (silent runs, services, CI) nothing is found and nothing is done.
//
// A top-level window is a client window of the desktop: under a window manager the one that
// carries WM_STATE inside each frame, without one each child of the root window. Menus,
// tooltips and other override-redirect windows are not top-level windows. Lists run from the
// topmost window down and include windows not shown (yet): a setup window that its page has
// not shown yet is still the running setup's window.
//
// Each call opens its own connection to the display and closes it again; call them from one
// thread at a time (X errors are caught with a process-wide handler while a call runs, and the
// handler in place before is put back).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Platform {

// An X window id; 0 means none.
using NativeWindow = uintptr_t;

struct TopLevelWindow {
  NativeWindow window = 0;
  std::wstring title;  // _NET_WM_NAME, else WM_NAME
  int pid = 0;         // _NET_WM_PID when set by a program of this host, else 0
  bool shown = false;  // mapped and viewable
};

// Whether a display can be reached.
bool HasDisplay();

std::vector<TopLevelWindow> ListTopLevelWindows();

// The topmost top-level window whose title is exactly `title`; 0 when there is none.
NativeWindow FindTopLevelWindow(std::wstring_view title);

// The topmost shown top-level window owned by one of `pids`, else the topmost such window
// not shown; 0 when there is none.
NativeWindow FindTopLevelWindowOfProcesses(const std::vector<int>& pids);

// Raises the window to the top of the stacking order and asks the window manager to activate
// it (_NET_ACTIVE_WINDOW, sent as a request on the user's behalf, so that focus-stealing
// prevention lets it through); without a window manager it also gets the input focus when it
// is shown. A window its program keeps hidden stays hidden. 0, an unknown window or no display:
// nothing happens.
void BringWindowToFront(NativeWindow window);

}  // namespace Platform
