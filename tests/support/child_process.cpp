#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace TestSupport {

namespace {

constexpr int kLineTimeoutMs = 60000;

}  // namespace

ChildProcess::ChildProcess(const std::string& path, const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& extraEnv) {
  int inPipe[2], outPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (pipe2(outPipe, O_CLOEXEC) != 0) {
    close(inPipe[0]);
    close(inPipe[1]);
    throw std::runtime_error("pipe failed");
  }
  const std::string errFile = (m_dir.Path() / "stderr.txt").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    const auto eq = entry.find('=');
    if (eq != std::string::npos && extraEnv.count(entry.substr(0, eq)) != 0) continue;
    envStrings.push_back(entry);
  }
  for (const auto& [name, value] : extraEnv) envStrings.push_back(name + "=" + value);
  std::vector<char*> argv{const_cast<char*>(path.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  const int rc = posix_spawn(&m_pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(inPipe[0]);
  close(outPipe[1]);
  m_stdin = inPipe[1];
  m_stdout = outPipe[0];
  if (rc != 0) {
    close(m_stdin);
    close(m_stdout);
    m_stdin = m_stdout = -1;
    m_pid = -1;
    throw std::runtime_error("cannot start " + path + ": " + std::strerror(rc));
  }
}

ChildProcess::~ChildProcess() {
  CloseStdin();
  if (m_pid > 0 && !m_waited) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
  if (m_stdout >= 0) close(m_stdout);
}

std::string ChildProcess::ReadLine() {
  while (m_pending.find('\n') == std::string::npos && m_stdout >= 0) {
    pollfd fd{m_stdout, POLLIN, 0};
    if (poll(&fd, 1, kLineTimeoutMs) <= 0) return {};
    char buffer[4096];
    const ssize_t n = read(m_stdout, buffer, sizeof buffer);
    if (n <= 0) {
      close(m_stdout);
      m_stdout = -1;
      break;
    }
    m_pending.append(buffer, static_cast<size_t>(n));
  }
  const auto end = m_pending.find('\n');
  if (end == std::string::npos) return {};
  std::string line = m_pending.substr(0, end);
  m_pending.erase(0, end + 1);
  return line;
}

void ChildProcess::CloseStdin() {
  if (m_stdin >= 0) {
    close(m_stdin);
    m_stdin = -1;
  }
}

int ChildProcess::Wait() {
  if (!m_waited && m_pid > 0) {
    int status = 0;
    if (waitpid(m_pid, &status, 0) == m_pid) m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m_waited = true;
  }
  return m_exitCode;
}

std::string ChildProcess::Err() const {
  std::ifstream in(m_dir.Path() / "stderr.txt", std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace TestSupport
