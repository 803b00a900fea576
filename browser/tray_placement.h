#pragma once
// Where a child window shown "Tray" goes: beside the taskbar's notification corner.
#include <cstdint>

namespace BrowserControl {

struct ScreenRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool IsEmpty() const { return right <= left || bottom <= top; }
  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  friend bool operator==(const ScreenRect&, const ScreenRect&) = default;
};

struct ScreenPoint {
  int32_t x = 0, y = 0;
  friend bool operator==(const ScreenPoint&, const ScreenPoint&) = default;
};

// True when the two rectangles share some area (touching edges do not count).
bool Intersects(const ScreenRect& a, const ScreenRect& b);

// The top-left corner of a `width` x `height` window beside the taskbar `taskbar` (empty:
// none) within the work area `workArea`.
ScreenPoint TrayPosition(const ScreenRect& taskbar, const ScreenRect& workArea, int32_t width, int32_t height);

// The taskbar of a monitor as the strip of its geometry that its work area leaves out (the
// largest one when panels take several sides); empty when the work area is the whole monitor.
ScreenRect TaskbarFromWorkArea(const ScreenRect& monitor, const ScreenRect& workArea);

}  // namespace BrowserControl
