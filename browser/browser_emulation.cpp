#include "browser/browser_emulation.h"

#include <exception>

#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace BrowserControl {

namespace {

Platform::RegistryHive Hive(EEmulationHive hive) {
  return hive == kEmulationLocalMachine ? Platform::RegistryHive::LocalMachine
                                        : Platform::RegistryHive::CurrentUser;
}

Platform::RegistryView View(bool view32) {
  return view32 ? Platform::RegistryView::View32 : Platform::RegistryView::View64;
}

}  // namespace

std::wstring GetBrowserEmulationValueName() {
  try {
    // File names are UTF-8 bytes here, whatever the locale says.
    return Platform::Utf8ToWide(Platform::GetModulePath().filename().string());
  } catch (const std::exception&) {
    return {};
  }
}

bool SetBrowserEmulation(const std::wstring& valueName, uint32_t value, EEmulationHive hive,
                         bool view32) {
  // An empty name would be the key's default value, which belongs to no program.
  if (valueName.empty()) return false;
  try {
    Platform::RegSetValue(Hive(hive), kBrowserEmulationKey, valueName,
                          Platform::RegistryValue::Number(value, Platform::RegistryValueType::Dword),
                          View(view32));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool DeleteBrowserEmulation(const std::wstring& valueName, EEmulationHive hive, bool view32) {
  if (valueName.empty()) return false;
  try {
    if (!Platform::RegQueryValue(Hive(hive), kBrowserEmulationKey, valueName, View(view32))) {
      return false;
    }
    Platform::RegDeleteValue(Hive(hive), kBrowserEmulationKey, valueName, View(view32));
    return !Platform::RegQueryValue(Hive(hive), kBrowserEmulationKey, valueName, View(view32));
  } catch (const std::exception&) {
    return false;
  }
}

bool ReadBrowserEmulation(const std::wstring& valueName, uint32_t& value, EEmulationHive hive,
                          bool view32) {
  if (valueName.empty()) return false;
  try {
    const auto stored =
        Platform::RegQueryValue(Hive(hive), kBrowserEmulationKey, valueName, View(view32));
    if (!stored || stored->type != Platform::RegistryValueType::Dword) return false;
    value = static_cast<uint32_t>(stored->number);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool IsBrowserEmulationSet() {
  uint32_t value = 0;
  if (!ReadBrowserEmulation(GetBrowserEmulationValueName(), value)) return false;
  return value == kBrowserEmulationIE11 || value == kBrowserEmulationIE11 + 1;
}

}  // namespace BrowserControl
