#include "browser/tray_placement.h"

#include <cstdlib>

namespace BrowserControl {

bool Intersects(const ScreenRect& a, const ScreenRect& b) {
  if (a.IsEmpty() || b.IsEmpty()) return false;
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

ScreenPoint TrayPosition(const ScreenRect& t, const ScreenRect& w, int32_t width, int32_t height) {
  if (t.IsEmpty() || !Intersects(t, w)) return {w.right - width, w.bottom - height};
  if (t.Width() <= t.Height()) {
    // Vertical taskbar: on the right when its left edge is farther from the work area's.
    if (std::abs(t.left - w.left) >= std::abs(t.right - w.right)) return {t.left - width, t.bottom - height};
    return {t.right, t.bottom - height};
  }
  // Horizontal taskbar: at the bottom when its top edge is farther from the work area's.
  if (std::abs(t.top - w.top) >= std::abs(t.bottom - w.bottom)) return {t.right - width, t.top - height};
  return {t.right - width, t.bottom};
}

ScreenRect TaskbarFromWorkArea(const ScreenRect& m, const ScreenRect& w) {
  const ScreenRect strips[] = {
      {m.left, w.bottom, m.right, m.bottom},  // bottom
      {w.right, m.top, m.right, m.bottom},    // right
      {m.left, m.top, m.right, w.top},        // top
      {m.left, m.top, w.left, m.bottom},      // left
  };
  ScreenRect best;
  int64_t bestArea = 0;
  for (const ScreenRect& s : strips) {
    if (s.IsEmpty()) continue;
    const int64_t area = int64_t(s.Width()) * s.Height();
    if (area > bestArea) {
      best = s;
      bestArea = area;
    }
  }
  return best;
}

}  // namespace BrowserControl
