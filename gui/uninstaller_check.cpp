#include "gui/uninstaller_check.h"

#include <cwctype>
#include <exception>
#include <filesystem>
#include <vector>

#include "gui/window_activation.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"
#include "platform/processes.h"
#include "platform/text.h"
#include "platform/top_level_windows.h"
#include "platform/version_info.h"

namespace CustomInstaller::Gui {

namespace fs = std::filesystem;

namespace {

// The folder is the user's own, but nothing read from disk may make the check endless.
constexpr size_t kMaxEntries = 10000;

bool EqualsIgnoreCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) return false;
  }
  return true;
}

std::wstring FileDescription(const fs::path& file) {
  const auto strings = Platform::ReadVersionStrings(file);
  if (!strings) return {};
  const auto it = strings->find("FileDescription");
  return it == strings->end() ? std::wstring() : Platform::Utf8ToWide(it->second);
}

// Processes of this session that run a program of this file name.
std::vector<int> SessionProcessesNamed(const std::wstring& fileName) {
  std::vector<int> pids;
  for (const auto& process : Platform::ListProcesses()) {
    if (EqualsIgnoreCase(process.exeFileName, fileName) && Platform::IsInCurrentSession(process.pid)) {
      pids.push_back(process.pid);
    }
  }
  return pids;
}

}  // namespace

CUninstallerCheck::CUninstallerCheck(std::wstring description, std::wstring mutexName)
    : m_description(std::move(description)), m_mutexName(std::move(mutexName)) {}

bool CUninstallerCheck::IsUninstallerRunning() {
  // Only looked at, not created: creating it would leave a lock file behind where none was,
  // and holding it longer than a look could make a starting uninstaller think it runs twice.
  if (!Platform::IsNamedMutexHeld(m_mutexName)) return false;
  try {
    size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(Platform::GetTempFolder() / kUninstallerCopyFolder)) {
      if (++entries > kMaxEntries) break;
      // Regular files only: reading a FIFO or a device put there would block or never end.
      std::error_code ec;
      if (!entry.is_regular_file(ec)) continue;
      const std::wstring description = FileDescription(entry.path());
      if (description.empty() || !EqualsIgnoreCase(description, m_description)) continue;
      const auto pids = SessionProcessesNamed(Platform::Utf8ToWide(entry.path().filename().string()));
      if (pids.empty()) continue;
      const Platform::NativeWindow window = Platform::FindTopLevelWindowOfProcesses(pids);
      if (window == 0) continue;
      BringWindowToFront(window);
      return true;
    }
  } catch (const std::exception&) {
    return false;
  }
  return false;
}

}  // namespace CustomInstaller::Gui
