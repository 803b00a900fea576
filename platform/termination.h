#pragma once
// Temporary files that must not outlive the program when it is ended by SIGINT, SIGTERM or
// SIGHUP (Ctrl+C, a logout, a service manager stopping it): the signal deletes them, then ends
// the process as the signal would have.
#include <filesystem>

namespace Platform {

// Installs the handling for the three signals (one left ignored by the parent stays ignored).
// Call once, early in main.
void InstallTerminationCleanup();

// Registers a file to delete on such an end; false when it cannot be registered (the path is
// too long, or too many files are registered at once): it is then left in place.
bool RemoveOnTermination(const std::filesystem::path& file);

// Forgets a registered file (it was deleted or is kept on purpose).
void ForgetOnTermination(const std::filesystem::path& file);

}  // namespace Platform
