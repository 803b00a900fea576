#include "platform/environment.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/text.h"

namespace Platform {

std::wstring ExpandEnvironmentStrings(std::wstring_view text) {
  std::wstring out;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t open = text.find(L'%', pos);
    if (open == std::wstring_view::npos) break;
    const size_t close = text.find(L'%', open + 1);
    if (close == std::wstring_view::npos) break;
    out.append(text.substr(pos, open - pos));
    const std::string name = WideToUtf8(text.substr(open + 1, close - open - 1));
    const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
    if (value != nullptr) {
      out += Utf8ToWide(value);
      pos = close + 1;
    } else {
      // Not a variable: keep the first "%" and look again from the second one.
      out.append(text.substr(open, close - open));
      pos = close;
    }
  }
  out.append(text.substr(std::min(pos, text.size())));
  return out;
}

std::filesystem::path GetProgramDataFolder() {
  const char* folder = std::getenv("OMK_PROGRAMDATA");
  if (folder != nullptr && *folder != '\0') return folder;
  return "/var/lib";
}

std::wstring GetInteractiveUserKey() {
  if (::geteuid() == 0) {
    for (const char* name : {"SUDO_UID", "PKEXEC_UID"}) {
      const char* value = std::getenv(name);
      if (value == nullptr || *value == '\0') continue;
      bool digits = true;
      for (const char* p = value; *p != '\0'; ++p) digits = digits && *p >= '0' && *p <= '9';
      if (digits) return Utf8ToWide(value);
    }
  }
  return std::to_wstring(::getuid());
}

}  // namespace Platform
