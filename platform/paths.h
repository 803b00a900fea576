#pragma once
// Folders the program works in.
#include <filesystem>

namespace Platform {

// The user's private temporary folder: $TMPDIR when it is a folder (not a link) of the user's
// own where no one else may write, else /tmp/omk-<uid>, created with mode 0700. Throws
// std::system_error only when that folder cannot be made, or is a symbolic link, not a folder,
// or owned by another user (another user could then read or replace what the program puts
// there).
std::filesystem::path GetTempFolder();

// False when the folder's file system does not let programs run from it (mounted noexec).
bool AllowsRunning(const std::filesystem::path& folder);

// A private temporary folder whose files can run, for the product installer: the temporary
// folder above, else /var/tmp/omk-<uid>, else $XDG_CACHE_HOME/omk-setup (or
// $HOME/.cache/omk-setup), each made and checked like /tmp/omk-<uid>. Throws
// std::system_error with a message saying so when none of them is usable.
std::filesystem::path GetRunnableTempFolder();

// Full path of the running executable.
std::filesystem::path GetModulePath();

}  // namespace Platform
