#pragma once
// Environment values the suite's products are found by.
#include <filesystem>
#include <string>
#include <string_view>

namespace Platform {

// Replaces each "%NAME%" whose variable is set with its value; unset names and a lone "%"
// stay as they are.
std::wstring ExpandEnvironmentStrings(std::wstring_view text);

// The machine-wide application-data folder: $OMK_PROGRAMDATA when set, else /var/lib.
std::filesystem::path GetProgramDataFolder();

// The key of the interactive user under the per-user data folders: the session user's numeric
// uid as text. When the process runs as root on someone's behalf (sudo, pkexec), that user's
// uid from SUDO_UID or PKEXEC_UID; otherwise the real uid.
std::wstring GetInteractiveUserKey();

}  // namespace Platform
