#pragma once
// Small files in folders that other processes of the user may change: symbolic links are not
// followed and only regular files are read or written, so a planted link or pipe can neither
// redirect a write nor feed or block a read.
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace Platform {

// The first `maxBytes` bytes of the regular file at `path`; nothing when it is missing, a link,
// not a regular file or unreadable.
std::optional<std::string> ReadPlainFile(const std::filesystem::path& path, std::size_t maxBytes);

// Like ReadPlainFile, for a file whose content decides what the program does: read only when
// it belongs to this process's user or to root and no one else may write to it (no group or
// other write bit). The checks apply to the file as opened, so it cannot be swapped between.
std::optional<std::string> ReadTrustedFile(const std::filesystem::path& path, std::size_t maxBytes);

// Replaces the content of the regular file at `path` (created 0600 when missing) with `bytes`.
// False, with nothing written, when `path` is a link or not a regular file; false also when a
// write fails part way.
bool WritePlainFile(const std::filesystem::path& path, std::string_view bytes);

// Writes `bytes` into a file that holds nothing yet: a new file (created 0600), or an existing
// empty regular file of this process's user with no other name. Anything else (content, another
// user's file, a link, a device, a second hard link) is refused untouched: false. A write that
// fails part way leaves the file as it was found (removed when it was new, emptied otherwise).
bool WriteIntoEmptyFile(const std::filesystem::path& path, std::string_view bytes);

}  // namespace Platform
