#pragma once
// The machine's identity as the component service expects it: a GUID text.
#include <filesystem>
#include <string>
#include <string_view>

namespace Platform {

// "0123456789abcdef0123456789abcdef" (the machine-id format: 32 hex digits, optionally followed
// by a line end) written as "01234567-89ab-cdef-0123-456789abcdef", lower case. Empty when
// the text is not such an id.
std::wstring FormatMachineGuid(std::string_view machineId);

// The machine GUID read from `file`; empty when it cannot be read or is not a machine id.
std::wstring ReadMachineGuid(const std::filesystem::path& file = "/etc/machine-id");

}  // namespace Platform
