#pragma once
// Temporary files that must not outlive the program when it is ended by SIGINT, SIGTERM or
// SIGHUP (Ctrl+C, a logout, a service manager stopping it): the signal deletes them, then ends
// the process as the signal would have.
#include <filesystem>

namespace Platform {

// How deep a folder registered with RemoveTreeOnTermination is emptied; what lies deeper is
// left, and so are the folders above it.
inline constexpr int kTerminationTreeDepth = 16;

// Installs the handling for the three signals (one left ignored by the parent stays ignored).
// Call once, early in main.
void InstallTerminationCleanup();

// Registers a file to delete on such an end; false when it cannot be registered (the path is
// too long, or too many paths are registered at once): it is then left in place. Registering
// a path that is registered already changes nothing.
bool RemoveOnTermination(const std::filesystem::path& file);

// Registers a folder to delete on such an end with everything under it. Links inside it are
// deleted themselves and never followed; the folder itself is not taken when it is a link.
// False as for RemoveOnTermination.
bool RemoveTreeOnTermination(const std::filesystem::path& folder);

// Forgets a registered file or folder (it was deleted or is kept on purpose).
void ForgetOnTermination(const std::filesystem::path& path);

}  // namespace Platform
