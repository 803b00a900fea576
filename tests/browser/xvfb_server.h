#pragma once
// A private X server (Xvfb) on a free display for the window tests, so they run where there is
// no display (CI) and never touch the user's own.
#include <string>

namespace TestSupport {

class XvfbServer {
 public:
  // Starts Xvfb on a display number it picks itself; Running() tells whether it came up.
  explicit XvfbServer(const std::string& screen = "1280x800x24");
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  bool Running() const { return m_pid > 0 && !m_display.empty(); }
  // ":N"
  const std::string& Display() const { return m_display; }
  const std::string& Error() const { return m_error; }

 private:
  int m_pid = -1;
  std::string m_display;
  std::string m_error;
};

}  // namespace TestSupport
