#pragma once
// A test's view of another program's windows on an X display, as a user sees them: waits for a
// top-level window to appear or go away, reads what is on the screen inside it, and drives it
// with real input synthesized through the XTEST extension (pointer clicks, keys), or with the
// close request a window manager sends.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

struct _XDisplay;

namespace TestSupport {

using XWindowId = unsigned long;

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

// Pixels of a screen area, row by row.
struct ScreenImage {
  int width = 0;
  int height = 0;
  std::vector<Rgb> pixels;

  Rgb At(int x, int y) const { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]; }
  // Writes the image as an 8-bit RGB PNG; false on failure.
  bool SavePng(const std::filesystem::path& path) const;
};

struct WindowGeometry {
  int x = 0, y = 0;  // on the screen
  int width = 0, height = 0;
};

class XScreen {
 public:
  // Throws std::runtime_error when the display cannot be opened or has no XTEST extension.
  explicit XScreen(const std::string& display);
  ~XScreen();
  XScreen(const XScreen&) = delete;
  XScreen& operator=(const XScreen&) = delete;

  // The mapped top-level window with this title (_NET_WM_NAME or WM_NAME), or 0.
  XWindowId FindMappedWindow(const std::string& title);
  // Waits for such a window to be mapped, woken by the display's events; 0 after `timeout`.
  XWindowId WaitForMappedWindow(const std::string& title, std::chrono::milliseconds timeout);
  // Waits until the window is unmapped or destroyed; false after `timeout`.
  bool WaitForGone(XWindowId window, std::chrono::milliseconds timeout);
  // The titles of the top-level windows mapped on the screen since this object was made (or
  // since the last call), read when their map events are handled ("?" for a window gone by
  // then). Windows mapped wholly off the screen are left out.
  std::vector<std::string> MappedTitles();

  WindowGeometry Geometry(XWindowId window);
  // What the screen shows inside the window.
  ScreenImage Capture(XWindowId window);
  // Captures until `ready` holds for the image (the program may still be drawing); returns the
  // last image. `ok` tells whether `ready` held before `timeout`.
  template <typename Ready>
  ScreenImage CaptureWhen(XWindowId window, Ready ready, std::chrono::milliseconds timeout, bool& ok) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      ScreenImage image = Capture(window);
      if (ready(image)) {
        ok = true;
        return image;
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        ok = false;
        return image;
      }
      WaitForEvents(std::chrono::milliseconds(40));
    }
  }

  // A left click at window coordinates (moves the pointer there first).
  void Click(XWindowId window, int x, int y);
  // Moves the pointer to window coordinates.
  void MovePointer(XWindowId window, int x, int y);
  // Presses the keys in order and releases them in reverse ("Alt_L", "F4" for Alt+F4).
  void Keys(const std::vector<std::string>& keysyms);
  // The window manager's close request (WM_DELETE_WINDOW), as on Alt+F4 or a title-bar close.
  void RequestClose(XWindowId window);
  // Plays the window manager's part of Alt+F4 for `window`: the key is grabbed on the root, and
  // each press sends the window the close request (handled while this object waits or captures).
  void CloseOnAltF4(XWindowId window);
  void Sync();

 private:
  // Handles the display's queued events; waits up to `timeout` for the first one.
  void WaitForEvents(std::chrono::milliseconds timeout);
  std::string Title(XWindowId window);

  _XDisplay* m_display = nullptr;
  std::vector<std::string> m_mapped;  // titles of the top-level windows mapped since MappedTitles
  XWindowId m_closeOnAltF4 = 0;
  std::map<XWindowId, WindowGeometry> m_places;  // top-level windows by their last known place
};

}  // namespace TestSupport
