#pragma once
// A test's own connection to an X display: makes top-level windows as another program would,
// and observes what was done to them (stacking order, input focus, activation requests sent to
// the root window). Without a window manager (bare Xvfb) requests take effect at once.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct _XDisplay;

namespace TestSupport {

using XWindowId = unsigned long;

struct XWindowOptions {
  std::string title = {};     // _NET_WM_NAME (UTF-8) and WM_NAME (as Latin-1 when it fits)
  bool netWmName = true;      // false: WM_NAME only
  long pid = -1;              // _NET_WM_PID; -1: this process's id, 0: not set
  std::string host = {};      // WM_CLIENT_MACHINE; empty: this host's name
  bool map = true;            // shown (mapped); waits until it is
  bool overrideRedirect = false;
  XWindowId parent = 0;       // 0: the root (a top-level window); else e.g. a frame
  bool wmState = false;       // carries WM_STATE, as a window manager marks its clients
};

class XClient {
 public:
  // Throws std::runtime_error when the display cannot be opened.
  explicit XClient(const std::string& display);
  ~XClient();
  XClient(const XClient&) = delete;
  XClient& operator=(const XClient&) = delete;

  XWindowId CreateWindow(const XWindowOptions& options);
  void DestroyWindow(XWindowId window);
  void MapWindow(XWindowId window);
  // The root's children, topmost first.
  std::vector<XWindowId> StackingTopFirst();
  XWindowId Focus();
  // The _NET_ACTIVE_WINDOW requests that reached the root since the last call: window and
  // source indication (1 application, 2 on the user's behalf).
  std::vector<std::pair<XWindowId, long>> ActivationRequests();
  // Advertises a desktop-conventions window manager on the root (as one would).
  void PretendWindowManager();
  void Sync();

 private:
  _XDisplay* m_display = nullptr;
  std::vector<std::pair<XWindowId, long>> m_requests;
};

}  // namespace TestSupport
