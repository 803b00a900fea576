#pragma once
// A program started for a test that runs alongside it: the test writes to its standard input,
// reads its standard output line by line and waits for its end. Its standard error goes to a
// file that Err() reads. Descriptors of the test without close-on-exec are inherited, as a
// plain posix_spawn does.
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace TestSupport {

class ChildProcess {
 public:
  // Throws std::runtime_error when it cannot be started.
  ChildProcess(const std::string& path, const std::vector<std::string>& args,
               const std::map<std::string, std::string>& extraEnv = {});
  // Closes its input, and ends it with SIGKILL if it is still running.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return m_pid; }
  // The next line of its output without the line end; empty when its output ended first or
  // nothing came within a minute.
  std::string ReadLine();
  // Lets it read to the end of its input.
  void CloseStdin();
  // Waits for its end: the exit code, or -1 when it did not exit normally.
  int Wait();
  std::string Err() const;

 private:
  TempDir m_dir;
  pid_t m_pid = -1;
  int m_stdin = -1;
  int m_stdout = -1;
  std::string m_pending;
  bool m_waited = false;
  int m_exitCode = -1;
};

}  // namespace TestSupport
