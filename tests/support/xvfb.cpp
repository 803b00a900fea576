#include "tests/support/xvfb.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace TestSupport {

namespace {

constexpr int kDisplayFd = 3;  // the descriptor Xvfb writes its display number to

void Stop(int pid) {
  kill(pid, SIGTERM);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

Xvfb::Xvfb(int width, int height) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("Xvfb: pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], kDisplayFd);

  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  const std::string fd = std::to_string(kDisplayFd);
  std::vector<std::string> args{"Xvfb",    "-displayfd", fd,       "-screen", "0", screen,
                                "-nolisten", "tcp",      "-noreset", "-dpi",   "96"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, "Xvfb", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    throw std::runtime_error(std::string("Xvfb: cannot start: ") + std::strerror(rc));
  }
  m_pid = pid;

  // Xvfb writes "N\n" once it is ready; EOF means it gave up.
  std::string number;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (number.empty() || number.back() != '\n') {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fds[0], POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char buffer[32];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    number.append(buffer, static_cast<size_t>(n));
    if (number.size() > 16) break;
  }
  close(fds[0]);
  if (number.size() < 2 || number.back() != '\n') {
    Stop(m_pid);
    throw std::runtime_error("Xvfb: no display number reported");
  }
  number.pop_back();
  m_display = ":" + number;
}

Xvfb::~Xvfb() {
  if (m_pid > 0) Stop(m_pid);
}

}  // namespace TestSupport
