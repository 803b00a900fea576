#include "tests/browser/xvfb_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace TestSupport {

XvfbServer::XvfbServer(const std::string& screen) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    m_error = "pipe failed";
    return;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    m_error = "fork failed";
    close(fds[0]);
    close(fds[1]);
    return;
  }
  if (pid == 0) {
    // The server writes its display number to descriptor 3 once it accepts clients.
    dup2(fds[1], 3);
    const int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      dup2(devnull, 0);
      dup2(devnull, 1);
      dup2(devnull, 2);
    }
    execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", screen.c_str(), "-nolisten", "tcp", "-dpi", "96",
           "-noreset", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  m_pid = pid;
  std::string number;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fds[0], POLLIN, 0};
    const int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
    if (poll(&p, 1, left > 0 ? left : 0) <= 0) break;
    char c;
    const ssize_t n = read(fds[0], &c, 1);
    if (n <= 0) break;
    if (c == '\n') {
      m_display = ":" + number;
      break;
    }
    number += c;
  }
  close(fds[0]);
  if (m_display.empty()) m_error = "Xvfb did not start (is the xvfb package installed?)";
}

XvfbServer::~XvfbServer() {
  if (m_pid > 0) {
    kill(m_pid, SIGTERM);
    int status = 0;
    waitpid(m_pid, &status, 0);
  }
}

}  // namespace TestSupport
