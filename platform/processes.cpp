#include "platform/processes.h"

#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/text.h"

namespace Platform {

namespace fs = std::filesystem;

namespace {

std::optional<int> ParsePid(const std::string& name) {
  int pid = 0;
  const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
  if (ec != std::errc() || end != name.data() + name.size() || pid <= 0) return std::nullopt;
  return pid;
}

// The program's file name from the /proc/<pid>/exe link; a program file deleted since it was
// started reads "<path> (deleted)".
std::string ExeFileName(const fs::path& procDir) {
  std::error_code ec;
  std::string target = fs::read_symlink(procDir / "exe", ec).string();
  if (!ec) {
    constexpr std::string_view kDeleted = " (deleted)";
    if (target.ends_with(kDeleted)) target.resize(target.size() - kDeleted.size());
    return fs::path(target).filename().string();
  }
  if (ec != std::errc::permission_denied) return {};
  // Another user's process: the link is closed to us, its command line is not.
  std::ifstream in(procDir / "cmdline", std::ios::binary);
  std::string first;
  std::getline(in, first, '\0');
  if (first.size() > 4096) return {};
  return fs::path(first).filename().string();
}

}  // namespace

std::vector<ProcessEntry> ListProcesses() {
  std::vector<ProcessEntry> processes;
  std::error_code ec;
  for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    const auto pid = ParsePid(it->path().filename().string());
    if (!pid) continue;
    const std::string name = ExeFileName(it->path());
    if (name.empty()) continue;
    processes.push_back({*pid, Utf8ToWide(name)});
  }
  return processes;
}

std::optional<uint32_t> GetProcessSessionId(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/sessionid");
  std::string text;
  if (!std::getline(in, text)) return std::nullopt;
  uint32_t id = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (ec != std::errc() || end == text.data()) return std::nullopt;
  return id;
}

bool IsInCurrentSession(int pid) {
  const auto own = GetProcessSessionId(::getpid());
  const auto other = GetProcessSessionId(pid);
  return own && other && *own == *other;
}

}  // namespace Platform
