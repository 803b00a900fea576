#include "tests/support/xvfb.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace TestSupport {

namespace {

constexpr int kStartTimeoutMs = 60000;

}  // namespace

Xvfb::Xvfb() {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 3);  // clears close-on-exec on 3
  std::vector<std::string> args = {"Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-noreset",
                                   "-screen", "0", "800x600x24"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int rc = posix_spawnp(&m_pid, "Xvfb", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (rc != 0) {
    close(pipeFds[0]);
    throw std::runtime_error(std::string("cannot start Xvfb: ") + std::strerror(rc));
  }
  // The server writes its display number once it accepts connections.
  std::string number;
  pollfd fd{pipeFds[0], POLLIN, 0};
  while (number.find('\n') == std::string::npos) {
    if (poll(&fd, 1, kStartTimeoutMs) <= 0) break;
    char buffer[32];
    const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    number.append(buffer, static_cast<size_t>(n));
  }
  close(pipeFds[0]);
  if (number.find('\n') == std::string::npos) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    throw std::runtime_error("Xvfb did not report its display");
  }
  m_display = ":" + number.substr(0, number.find('\n'));
}

Xvfb::~Xvfb() {
  if (m_pid <= 0) return;
  kill(m_pid, SIGTERM);
  waitpid(m_pid, nullptr, 0);
}

}  // namespace TestSupport
