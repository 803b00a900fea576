#pragma once
// Folders the program works in.
#include <filesystem>

namespace Platform {

// The user's private temporary folder: $TMPDIR when it is a folder (not a link) of the user's
// own where no one else may write, else /tmp/omk-<uid>, created with mode 0700. When that name
// is taken (another user's folder, a link, a file) or unusable, a folder of this process's own
// beside it, /tmp/omk-<uid>-XXXXXX (mkdtemp), removed at exit when empty and with what it
// holds on SIGTERM, SIGINT or SIGHUP. Every folder above must belong to root or the user and
// be closed to others' writes or sticky. Throws std::system_error only when no such folder can
// be made.
std::filesystem::path GetTempFolder();

// `path` made (or taken) as a private folder with mode 0700, or the unique folder beside it as
// above; the same answer for every call of the process.
std::filesystem::path MakePrivateFolder(const std::filesystem::path& path);

// False when the folder's file system does not let programs run from it (mounted noexec).
bool AllowsRunning(const std::filesystem::path& folder);

// A private temporary folder whose files can run, for the product installer: the temporary
// folder above, else /var/tmp/omk-<uid>, else $XDG_CACHE_HOME/omk-setup (or
// $HOME/.cache/omk-setup), each made and checked like /tmp/omk-<uid> (with a unique folder
// beside a taken name). Throws std::system_error with a message saying so when none of them is
// usable.
std::filesystem::path GetRunnableTempFolder();

// Full path of the running executable.
std::filesystem::path GetModulePath();

}  // namespace Platform
