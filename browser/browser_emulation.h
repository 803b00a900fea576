#pragma once
// The engine setting of the embedded browser for one program: a REG_DWORD value named after the
// program's file name under FEATURE_BROWSER_EMULATION in the registry. The setup writes 11000
// (version 11 document mode) at start-up and removes it at exit; the browser host reads it to
// decide which engine version it reports to the page.
#include <cstdint>
#include <string>

namespace BrowserControl {

// Under HKEY_CURRENT_USER (or HKEY_LOCAL_MACHINE).
inline constexpr const wchar_t* kBrowserEmulationKey =
    L"SOFTWARE\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION";

// Version 11 document mode for pages that declare a standards doctype.
inline constexpr uint32_t kBrowserEmulationIE11 = 11000;

enum EEmulationHive : uint32_t {
  kEmulationCurrentUser = 0,   // HKEY_CURRENT_USER
  kEmulationLocalMachine = 1,  // HKEY_LOCAL_MACHINE
};

// This program's own file name without its folder ("omk-setup"); empty if it cannot be read.
std::wstring GetBrowserEmulationValueName();

// Creates the key as needed and writes `value` as REG_DWORD under `valueName`. `view32` writes
// to the 32-bit registry view. True on success; an empty value name is refused (false).
bool SetBrowserEmulation(const std::wstring& valueName, uint32_t value,
                         EEmulationHive hive = kEmulationCurrentUser, bool view32 = false);

// Deletes the value. True when it existed and is gone now.
bool DeleteBrowserEmulation(const std::wstring& valueName,
                            EEmulationHive hive = kEmulationCurrentUser, bool view32 = false);

// The REG_DWORD stored under `valueName`, if there is one (a value of another type counts as
// absent).
bool ReadBrowserEmulation(const std::wstring& valueName, uint32_t& value,
                          EEmulationHive hive = kEmulationCurrentUser, bool view32 = false);

// True when the value for this program's file name is present under HKEY_CURRENT_USER (64-bit
// view) and selects the version 11 engine (11000 or 11001). The browser host then reports
// "rv:11.0" in its user agent. Reads the registry on every call: call it once per window.
bool IsBrowserEmulationSet();

}  // namespace BrowserControl
