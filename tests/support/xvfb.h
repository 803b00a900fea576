#pragma once
// A private X server (Xvfb) for one test program, on a display number the server picks itself
// (-displayfd), so parallel test programs never collide and CI needs no display of its own.
//
//   TestSupport::Xvfb x;                       // started and accepting connections
//   TestSupport::ScopedEnv env; env.Set("DISPLAY", x.Display());
#include <sys/types.h>

#include <string>

namespace TestSupport {

class Xvfb {
 public:
  // Throws std::runtime_error when the server does not start within a minute.
  Xvfb();
  ~Xvfb();
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  const std::string& Display() const { return m_display; }  // ":N"

 private:
  pid_t m_pid = -1;
  std::string m_display;
};

}  // namespace TestSupport
