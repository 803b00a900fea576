#pragma once
// Starting programs from one command-line text, and unique temporary files.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace Platform {

// Splits a command line the way Windows programs receive it (CommandLineToArgvW): the program
// name runs to the first blank or, when quoted, to the next quote; later arguments are
// separated by blanks, quotes group, 2n backslashes before a quote give n backslashes and a
// quote that groups, 2n+1 give n backslashes and a literal quote, other backslashes are
// literal, and a doubled quote inside quotes is one literal quote.
std::vector<std::wstring> SplitCommandLine(std::wstring_view commandLine);

// Starts the program named by the first element of the split command line (a path; no search)
// with the rest as its arguments, this process's environment and folder and no inherited
// descriptors, and waits for it. False when it could not be started. A program ended by a
// signal reports 128 + the signal number.
bool RunProcess(std::wstring_view commandLine, uint32_t& exitCode);

// Creates a new empty file "<prefix>XXXXXX.tmp" in `folder` with a unique name, readable and
// writable by the user only (and executable when asked), and returns its path.
// Throws std::system_error when it cannot.
std::filesystem::path CreateUniqueTempFile(const std::filesystem::path& folder,
                                           std::string_view prefix, bool executable = false);

}  // namespace Platform
