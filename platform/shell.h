#pragma once
// Starting programs and opening documents and URLs the way the desktop does.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
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

// A regular file this process may run.
bool IsExecutableFile(const std::filesystem::path& path);

// The full path of the first executable file `name` in a folder of PATH, or empty.
std::filesystem::path FindProgramOnPath(std::string_view name);

// The command line of the desktop's default handler for URLs of `scheme`, with "%1" where the
// URL goes: "xdg-mime query default x-scheme-handler/<scheme>" names a desktop file, found
// in the applications folder of $XDG_DATA_HOME or $XDG_DATA_DIRS, whose Exec line is
// rewritten with Windows quoting. Empty when any step fails, or when xdg-mime has not answered
// within two seconds (it is then killed).
std::wstring GetDefaultUrlHandlerCommand(std::string_view scheme);

// The user a process running as root works for: SUDO_UID, else PKEXEC_UID, else the owner of
// the X display's socket ($DISPLAY). None when this process is not root, or that user is root
// or unknown.
struct DesktopUser {
  uint32_t uid = 0;
  uint32_t gid = 0;
  std::string name;
  std::string home;
  std::string shell;
};
std::optional<DesktopUser> InvokingDesktopUser();

// The environment of a program started for that user: this one's, with HOME, USER, LOGNAME and
// SHELL of the user, the user's session bus and runtime folder when they exist, and without
// root's own folders and the elevation tool's variables.
std::vector<std::string> DesktopUserEnvironment(const DesktopUser& user);

// True unless this process runs as root and knows no non-root desktop user to act for: then
// nothing may be started for the desktop (never a browser as root).
bool CanStartForDesktopUser();

// Starts argv[0] (looked up on PATH) for the person at the desktop: as the invoking user, with
// that user's environment, when this process runs as root on their behalf; else as this
// process. Nothing as root: false when CanStartForDesktopUser is false. Does not wait; false
// when it could not start.
bool StartForDesktopUser(const std::vector<std::wstring>& argv);

// Text that xdg-open takes as a URL, never as a file path of its own or as an option: a
// scheme (an ASCII letter, then letters, "+", "-" or ".") and ":" at its start, no control
// character, and a "file:" URL only with an absolute path ("file:///").
bool IsOpenableUrl(std::wstring_view url);

// Hands a URL to xdg-open for the person at the desktop (as StartForDesktopUser) and returns at
// once: false when the URL is not openable or xdg-open could not start. A detached thread
// waits for it: when it ends within a few seconds with a code other than 0 (it found nothing
// to open the URL with), `openedNothing` runs on that thread; one still running then (it
// waits for a browser it started) counts as opened and is only reaped.
bool OpenForDesktopUser(const std::wstring& url, std::function<void()> openedNothing = {});

}  // namespace Platform
