#pragma once
// Folders the program works in.
#include <filesystem>

namespace Platform {

// The user's private temporary folder: $TMPDIR when set and no one else may write there,
// else /tmp/omk-<uid>, created with mode 0700. Throws std::system_error when the folder cannot
// be made, or when it is a symbolic link, not a folder, or owned by another user (another user
// could then read or replace what the program puts there).
std::filesystem::path GetTempFolder();

// Full path of the running executable.
std::filesystem::path GetModulePath();

}  // namespace Platform
