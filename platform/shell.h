#pragma once
// Starting programs and opening documents and URLs the way the desktop does.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace Platform {

// One command-line text split into arguments by the Windows rules: the program name runs to
// the next blank unless it is quoted (no escapes in it); in the other arguments 2n
// backslashes before a quote give n backslashes and toggle quoting, 2n+1 give n and a literal
// quote, other backslashes are literal, and "" inside quotes is a literal quote.
std::vector<std::wstring> SplitWindowsCommandLine(std::wstring_view commandLine);

// One argument written so that SplitWindowsCommandLine reads it back unchanged.
std::wstring QuoteWindowsArgument(std::wstring_view argument);

// Starts the program argv[0] (looked up on PATH when it has no "/") with the arguments and
// does not wait for it; a helper thread collects its exit. False when it could not start.
bool StartProcess(const std::vector<std::wstring>& argv);

// Starts a command-line text split as above.
bool StartCommandLine(std::wstring_view commandLine);

// Opens `target`: an executable file is started with `parameters` (split as the arguments
// of a command line); anything else (a URL, a document) is handed to xdg-open, and the
// parameters are not used. True when the program was started.
bool ShellOpen(const std::wstring& target, const std::wstring& parameters);

// The full path of the first executable file `name` in a folder of PATH, or empty.
std::filesystem::path FindProgramOnPath(std::string_view name);

// The command line of the desktop's default handler for URLs of `scheme`, with "%1" where the
// URL goes: "xdg-mime query default x-scheme-handler/<scheme>" names a desktop file, found
// in the applications folder of $XDG_DATA_HOME or $XDG_DATA_DIRS, whose Exec line is
// rewritten with Windows quoting. Empty when any step fails.
std::wstring GetDefaultUrlHandlerCommand(std::string_view scheme);

}  // namespace Platform
