#pragma once
// An X server of the test program's own: Xvfb on a free display number that it picks itself
// (-displayfd), so test programs can run side by side on a machine without a display.
#include <string>

namespace TestSupport {

class Xvfb {
 public:
  // Starts Xvfb with one screen of width x height at 24 bits and returns once it accepts
  // clients (at most 30 s). Throws std::runtime_error when it cannot be started.
  explicit Xvfb(int width = 800, int height = 600);
  ~Xvfb();  // stops the server
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  // ":N", for DISPLAY.
  const std::string& Display() const { return m_display; }

 private:
  int m_pid = -1;
  std::string m_display;
};

}  // namespace TestSupport
