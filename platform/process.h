#pragma once
// Starting programs from one command-line text, and unique temporary files.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace Platform {

// Starts the program named by the first element of the command line split by the Windows
// rules (SplitWindowsCommandLine; a path, no search)
// with the rest as its arguments, this process's environment and folder and no inherited
// descriptors, and waits for it. False when it could not be started. A program ended by a
// signal reports 128 + the signal number; one whose end could not be read, UINT32_MAX.
bool RunProcess(std::wstring_view commandLine, uint32_t& exitCode);

// Starts argv[0] (looked up on PATH when `searchPath` and it has no "/") with the rest as its
// arguments, this process's environment and folder, no inherited descriptors beyond the
// standard three, and SIGCHLD and SIGPIPE at their defaults. Returns its process id, or -1
// (errno set) when it could not be started. The caller waits for it.
int SpawnProcess(const std::vector<std::wstring>& argv, bool searchPath);

// Puts back the default handling of a child's end, which the parent of this process may have
// set to "ignore" (the system then reaps children at once and no exit code can be read).
void RestoreChildSignalDefault();

// The running program's own file, for starting a copy of it: it names the very file this
// process runs even when the path it was started from has since been replaced.
inline constexpr const char* kOwnProgramFile = "/proc/self/exe";

// Creates a new empty file "<prefix>XXXXXX.tmp" in `folder` with a unique name, readable and
// writable by the user only (and executable when asked), and returns its path. The file is
// registered for deletion should the program be ended by a signal (platform/termination.h).
// Throws std::system_error when it cannot.
std::filesystem::path CreateUniqueTempFile(const std::filesystem::path& folder,
                                           std::string_view prefix, bool executable = false);

}  // namespace Platform
