#pragma once
// Whether the suite's uninstaller runs in this session; if so its window is brought forward.
//
// The uninstaller holds a named mutex while it runs and runs from a copy of itself in
// "~nsu.tmp" inside the user's temporary folder. A copy there whose version description is the
// uninstaller's, run by a process of this session that has a window, is a running uninstaller.
#include <string>

#include "config/identity.h"

namespace CustomInstaller::Gui {

inline constexpr const wchar_t* kUninstallerCopyFolder = L"~nsu.tmp";

class CUninstallerCheck {
 public:
  explicit CUninstallerCheck(std::wstring description = Config::kUninstallerDescription,
                             std::wstring mutexName = Config::kUninstallerMutexName);

  // False at once when no one holds the mutex. Otherwise the entries of "~nsu.tmp" are
  // read in turn: for one whose "FileDescription" equals the description (letter case aside;
  // an empty one never matches), the first window of a process of that file name in this
  // session is brought to the front and the answer is true. A missing folder or an error
  // while reading it gives false.
  bool IsUninstallerRunning();

 private:
  std::wstring m_description;
  std::wstring m_mutexName;
};

}  // namespace CustomInstaller::Gui
