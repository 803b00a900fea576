#pragma once
// The running processes, read from /proc, and the login session they belong to.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Platform {

struct ProcessEntry {
  int pid = 0;
  // The file name (without folder) of the program it runs; for a process whose program link
  // may not be read (another user's), the file name of its first argument.
  std::wstring exeFileName;
};

// Every process that has a program file (kernel threads have none). Processes that end while
// the list is read are left out.
std::vector<ProcessEntry> ListProcesses();

// The login session a process belongs to: the audit session id the system gives each login
// (/proc/<pid>/sessionid; processes started outside any login share the "unset" id). Nothing
// when the process is gone or the id cannot be read.
std::optional<uint32_t> GetProcessSessionId(int pid);

// Whether the process runs in the same login session as this one.
bool IsInCurrentSession(int pid);

}  // namespace Platform
