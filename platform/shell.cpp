#include "platform/shell.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/thread/thread.hpp>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cwctype>
#include <fstream>
#include <optional>

#include "platform/process.h"
#include "platform/text.h"

extern char** environ;

namespace Platform {

namespace fs = std::filesystem;

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring Quote(std::wstring_view argument, bool always) {
  bool plain = !always && !argument.empty();
  for (wchar_t c : argument) plain = plain && !IsBlank(c) && c != L'"' && c != L'\n' && c != L'\v';
  if (plain) return std::wstring(argument);
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

// Runs the program and returns what it wrote to its standard output when it exits with 0
// within `limit`; one that takes longer is killed.
std::optional<std::string> RunAndCapture(const std::vector<std::string>& argv, std::chrono::milliseconds limit) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (spawned != 0) {
    ::close(out[0]);
    return std::nullopt;
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  bool inTime = true;
  std::string text;
  char buffer[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd ready{out[0], POLLIN, 0};
    const int polled = left.count() > 0 ? ::poll(&ready, 1, static_cast<int>(left.count())) : 0;
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) {
      inTime = false;
      break;
    }
    const ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (text.size() < 65536) text.append(buffer, static_cast<size_t>(n));
  }
  ::close(out[0]);
  if (!inTime) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!inTime || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return text;
}

// The non-empty entries of a colon-separated folder list (PATH, XDG_DATA_DIRS).
std::vector<std::string> SplitFolderList(const std::string& list) {
  std::vector<std::string> folders;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    if (end > start) folders.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return folders;
}

std::vector<fs::path> DataFolders() {
  std::vector<fs::path> folders;
  const char* home = std::getenv("XDG_DATA_HOME");
  if (home != nullptr && *home == '/') {
    folders.emplace_back(home);
  } else if (const char* h = std::getenv("HOME"); h != nullptr && *h == '/') {
    folders.push_back(fs::path(h) / ".local/share");
  }
  const char* dirs = std::getenv("XDG_DATA_DIRS");
  for (const auto& folder : SplitFolderList(dirs != nullptr && *dirs != '\0' ? dirs : "/usr/local/share:/usr/share")) {
    if (folder[0] == '/') folders.emplace_back(folder);
  }
  return folders;
}

// The Exec value of the file's [Desktop Entry] group, with the string escapes undone.
std::optional<std::string> ReadExecLine(const fs::path& desktopFile) {
  std::ifstream in(desktopFile);
  std::string line;
  bool inEntry = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    if (!inEntry || line.compare(0, 4, "Exec") != 0) continue;
    size_t eq = 4;
    while (eq < line.size() && line[eq] == ' ') ++eq;
    if (eq >= line.size() || line[eq] != '=') continue;
    std::string value;
    for (size_t i = eq + 1; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        const char e = line[++i];
        value.push_back(e == 's' ? ' ' : e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e);
      } else {
        value.push_back(line[i]);
      }
    }
    const size_t first = value.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : value.substr(first);
  }
  return std::nullopt;
}

// The Exec arguments with their field codes: %f %F %u %U become "%1", "%%" a percent sign,
// the others are dropped (with an argument that held nothing else).
std::vector<std::wstring> ExecArguments(const std::wstring& exec) {
  std::vector<std::wstring> raw;
  std::wstring current;
  bool quoted = false, started = false;
  for (size_t i = 0; i < exec.size(); ++i) {
    const wchar_t c = exec[i];
    if (quoted) {
      if (c == L'\\' && i + 1 < exec.size()) {
        current.push_back(exec[++i]);
      } else if (c == L'"') {
        quoted = false;
      } else {
        current.push_back(c);
      }
    } else if (c == L' ' || c == L'\t') {
      if (started) raw.push_back(std::move(current));
      current.clear();
      started = false;
    } else {
      started = true;
      if (c == L'"') {
        quoted = true;
      } else {
        current.push_back(c);
      }
    }
  }
  if (started) raw.push_back(std::move(current));

  std::vector<std::wstring> args;
  for (const auto& arg : raw) {
    std::wstring out;
    bool dropped = false;
    for (size_t i = 0; i < arg.size(); ++i) {
      if (arg[i] != L'%' || i + 1 == arg.size()) {
        out.push_back(arg[i]);
        continue;
      }
      const wchar_t code = arg[++i];
      if (code == L'%') {
        out.push_back(L'%');
      } else if (code == L'f' || code == L'F' || code == L'u' || code == L'U') {
        out += L"%1";
      } else {
        dropped = true;
      }
    }
    if (!out.empty() || !dropped) args.push_back(std::move(out));
  }
  return args;
}

}  // namespace

bool IsExecutableFile(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::vector<std::wstring> SplitWindowsCommandLine(std::wstring_view text) {
  std::vector<std::wstring> args;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  if (i == n) return args;
  std::wstring program;
  if (text[i] == L'"') {
    for (++i; i < n && text[i] != L'"'; ++i) program.push_back(text[i]);
    if (i < n) ++i;
  } else {
    for (; i < n && !IsBlank(text[i]); ++i) program.push_back(text[i]);
  }
  args.push_back(std::move(program));
  for (;;) {
    while (i < n && IsBlank(text[i])) ++i;
    if (i == n) break;
    std::wstring current;
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(text[i]))) {
      if (text[i] == L'\\') {
        size_t count = 0;
        while (i < n && text[i] == L'\\') ++count, ++i;
        if (i < n && text[i] == L'"') {
          current.append(count / 2, L'\\');
          if (count % 2 == 1) {
            current.push_back(L'"');
            ++i;
          }
        } else {
          current.append(count, L'\\');
        }
      } else if (text[i] == L'"') {
        if (quoted && i + 1 < n && text[i + 1] == L'"') {
          current.push_back(L'"');
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        current.push_back(text[i++]);
      }
    }
    args.push_back(std::move(current));
  }
  return args;
}

std::wstring QuoteWindowsArgument(std::wstring_view argument) { return Quote(argument, false); }

bool StartProcess(const std::vector<std::wstring>& argv) {
  const int pid = SpawnProcess(argv, true);
  if (pid < 0) return false;
  boost::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

bool StartCommandLine(std::wstring_view commandLine) {
  return StartProcess(SplitWindowsCommandLine(commandLine));
}

bool ShellOpen(const std::wstring& target, const std::wstring& parameters) {
  if (target.empty()) return false;
  const fs::path path(WideToUtf8(target));
  if (IsExecutableFile(path)) {
    auto args = SplitWindowsCommandLine(L"x " + parameters);
    args[0] = target;
    return StartProcess(args);
  }
  return StartProcess({L"xdg-open", target});
}

fs::path FindProgramOnPath(std::string_view name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr || name.empty() || name.find('/') != std::string_view::npos) return {};
  for (const auto& folder : SplitFolderList(path)) {
    const fs::path candidate = fs::path(folder) / name;
    if (IsExecutableFile(candidate)) return candidate;
  }
  return {};
}

std::wstring GetDefaultUrlHandlerCommand(std::string_view scheme) {
  if (scheme.empty()) return {};
  for (char c : scheme) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')) return {};
  }
  const auto answer = RunAndCapture({"xdg-mime", "query", "default", "x-scheme-handler/" + std::string(scheme)},
                                    std::chrono::seconds(2));
  if (!answer) return {};
  std::string id = *answer;
  while (!id.empty() && (id.back() == '\n' || id.back() == '\r' || id.back() == ' ')) id.pop_back();
  if (id.size() <= 8 || id.compare(id.size() - 8, 8, ".desktop") != 0 || id.find('/') != std::string::npos) {
    return {};
  }
  for (const auto& folder : DataFolders()) {
    const auto exec = ReadExecLine(folder / "applications" / id);
    if (!exec) continue;
    std::wstring command;
    for (const auto& arg : ExecArguments(Utf8ToWide(*exec))) {
      if (!command.empty()) command.push_back(L' ');
      command += Quote(arg, arg.find(L"%1") != std::wstring::npos);
    }
    return command;
  }
  return {};
}

namespace {

std::optional<DesktopUser> UserOf(uid_t uid) {
  if (uid == 0) return std::nullopt;
  std::vector<char> buffer(16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return std::nullopt;
  DesktopUser user;
  user.uid = found->pw_uid;
  user.gid = found->pw_gid;
  user.name = found->pw_name ? found->pw_name : "";
  user.home = found->pw_dir ? found->pw_dir : "";
  user.shell = found->pw_shell ? found->pw_shell : "";
  return user;
}

std::optional<uid_t> UidFromEnvironment(const char* name) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (errno != 0 || *end != '\0' || value > UINT32_MAX) return std::nullopt;
  return static_cast<uid_t>(value);
}

// The owner of the local X server's socket for $DISPLAY (":N" or ":N.S").
std::optional<uid_t> DisplayOwner() {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || display[0] != ':') return std::nullopt;
  std::string number;
  for (const char* c = display + 1; *c >= '0' && *c <= '9'; ++c) number.push_back(*c);
  if (number.empty()) return std::nullopt;
  struct stat st {};
  if (::lstat(("/tmp/.X11-unix/X" + number).c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return std::nullopt;
  return st.st_uid;
}

bool IsUsersFolder(const std::string& path, uid_t uid) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid;
}

int SpawnForDesktopUser(const std::vector<std::wstring>& argv) {
  if (argv.empty() || argv[0].empty()) return -1;
  const auto user = InvokingDesktopUser();
  if (!user) {
    if (::geteuid() == 0) {
      // Root with no one to act for: nothing runs as root.
      errno = EPERM;
      return -1;
    }
    return SpawnProcess(argv, true);
  }

  // Everything the child needs is made here: between fork and exec only system calls run.
  std::string program = WideToUtf8(argv[0]);
  if (program.find('/') == std::string::npos) program = FindProgramOnPath(program).string();
  if (program.empty()) {
    errno = ENOENT;
    return -1;
  }
  std::vector<std::string> bytes;
  for (const auto& a : argv) bytes.push_back(WideToUtf8(a));
  std::vector<char*> args;
  for (auto& a : bytes) args.push_back(a.data());
  args.push_back(nullptr);
  std::vector<std::string> environment = DesktopUserEnvironment(*user);
  std::vector<char*> envp;
  for (auto& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (::getgrouplist(user->name.c_str(), user->gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
    if (::getgrouplist(user->name.c_str(), user->gid, groups.data(), &count) < 0) count = 0;
  }
  groups.resize(static_cast<size_t>(std::max(count, 0)));
  if (groups.empty()) groups.push_back(user->gid);

  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    ::signal(SIGCHLD, SIG_DFL);
    ::signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::close_range(3, ~0U, 0);
    // Never as root: a step that fails ends the child.
    if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(user->gid) != 0 || ::setuid(user->uid) != 0) {
      ::_exit(126);
    }
    if (::chdir(user->home.c_str()) != 0 && ::chdir("/") != 0) ::_exit(126);
    ::execve(program.c_str(), args.data(), envp.data());
    ::_exit(127);
  }
  return pid;
}

void ReapLater(int pid) {
  boost::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

}  // namespace

std::optional<DesktopUser> InvokingDesktopUser() {
  if (::geteuid() != 0) return std::nullopt;
  for (const char* name : {"SUDO_UID", "PKEXEC_UID"}) {
    if (const auto uid = UidFromEnvironment(name)) return UserOf(*uid);
  }
  if (const auto owner = DisplayOwner()) return UserOf(*owner);
  return std::nullopt;
}

std::vector<std::string> DesktopUserEnvironment(const DesktopUser& user) {
  static const char* const kDropped[] = {
      "HOME", "USER", "LOGNAME", "SHELL", "MAIL", "SUDO_UID", "SUDO_GID", "SUDO_USER", "SUDO_COMMAND",
      "SUDO_HOME", "PKEXEC_UID", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS", "XDG_CONFIG_HOME",
      "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "TMPDIR"};
  std::vector<std::string> out;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const std::string entry(*e);
    const std::string name = entry.substr(0, entry.find('='));
    bool dropped = false;
    for (const char* d : kDropped) dropped = dropped || name == d;
    if (!dropped) out.push_back(entry);
  }
  out.push_back("HOME=" + user.home);
  out.push_back("USER=" + user.name);
  out.push_back("LOGNAME=" + user.name);
  if (!user.shell.empty()) out.push_back("SHELL=" + user.shell);
  const std::string runtime = "/run/user/" + std::to_string(user.uid);
  if (IsUsersFolder(runtime, user.uid)) {
    out.push_back("XDG_RUNTIME_DIR=" + runtime);
    struct stat st {};
    if (::lstat((runtime + "/bus").c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
      out.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtime + "/bus");
    }
  }
  return out;
}

bool CanStartForDesktopUser() { return ::geteuid() != 0 || InvokingDesktopUser().has_value(); }

bool StartForDesktopUser(const std::vector<std::wstring>& argv) {
  const int pid = SpawnForDesktopUser(argv);
  if (pid < 0) return false;
  ReapLater(pid);
  return true;
}

bool IsOpenableUrl(std::wstring_view url) {
  auto letter = [](wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); };
  // xdg-open reads anything without such a scheme as a path (relative to its folder), and a
  // leading "-" as an option; its checks go line by line.
  if (url.empty() || !letter(url[0])) return false;
  size_t colon = 1;
  while (colon < url.size() && (letter(url[colon]) || url[colon] == L'+' || url[colon] == L'-' || url[colon] == L'.')) {
    ++colon;
  }
  if (colon == url.size() || url[colon] != L':') return false;
  for (wchar_t c : url) {
    if (c < 0x20 || c == 0x7f) return false;
  }
  std::wstring scheme(url.substr(0, colon));
  for (auto& c : scheme) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  // "file://name/x" is the relative path "file://name/x" to xdg-open.
  return scheme != L"file" || url.substr(colon, 4) == L":///";
}

bool OpenForDesktopUser(const std::wstring& url, std::function<void()> openedNothing) {
  if (!IsOpenableUrl(url)) return false;
  const int pid = SpawnForDesktopUser({L"xdg-open", url});
  if (pid < 0) return false;
  // xdg-open ends at once when it handed the URL on, with a code other than 0 when it found
  // nothing to open it with; it may instead wait for a browser it started itself. Only this
  // thread waits, never the caller's.
  boost::thread([pid, openedNothing = std::move(openedNothing)] {
    constexpr int kPolls = 150;  // 3 seconds
    for (int round = 0; round < kPolls; ++round) {
      int status = 0;
      const pid_t done = ::waitpid(pid, &status, WNOHANG);
      if (done < 0 && errno == EINTR) continue;
      if (done < 0) return;
      if (done == pid) {
        if ((!WIFEXITED(status) || WEXITSTATUS(status) != 0) && openedNothing) openedNothing();
        return;
      }
      ::usleep(20000);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

}  // namespace Platform
