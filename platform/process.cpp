#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <system_error>

#include "platform/shell.h"
#include "platform/termination.h"
#include "platform/text.h"

extern char** environ;

namespace Platform {

int SpawnProcess(const std::vector<std::wstring>& argv, bool searchPath) {
  if (argv.empty() || argv[0].empty()) return -1;
  std::vector<std::string> bytes;
  for (const auto& a : argv) bytes.push_back(WideToUtf8(a));
  std::vector<char*> args;
  for (auto& a : bytes) args.push_back(a.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  // The program starts with the default handling of the signals a library may have set to
  // "ignore" in this process.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGCHLD);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int rc = searchPath ? posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ)
                            : posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    errno = rc;
    return -1;
  }
  return pid;
}

bool RunProcess(std::wstring_view commandLine, uint32_t& exitCode) {
  const int pid = SpawnProcess(SplitWindowsCommandLine(commandLine), false);
  if (pid < 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno == EINTR) continue;
    // Started, but its end cannot be read (the child was reaped elsewhere): it ran, with an
    // unknown outcome, and must not be started again.
    exitCode = UINT32_MAX;
    return true;
  }
  if (WIFEXITED(status)) {
    exitCode = static_cast<uint32_t>(WEXITSTATUS(status));
  } else {
    exitCode = 128u + static_cast<uint32_t>(WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  }
  return true;
}

void RestoreChildSignalDefault() { std::signal(SIGCHLD, SIG_DFL); }

std::filesystem::path CreateUniqueTempFile(const std::filesystem::path& folder, std::string_view prefix,
                                           bool executable) {
  std::string pattern = (folder / (std::string(prefix) + "XXXXXX.tmp")).string();
  const int fd = mkostemps(pattern.data(), 4, O_CLOEXEC);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "cannot create a file in " + folder.string());
  if (executable) fchmod(fd, 0700);
  close(fd);
  RemoveOnTermination(pattern);
  return pattern;
}

}  // namespace Platform
