#pragma once
// Version information of an executable. A file carries it in an ELF section
// ".note.omk.version" (added with objcopy) holding one ELF note, owner "OMK", type 1, whose
// descriptor is a list of key/value strings, each NUL-terminated: "ProductVersion",
// "FileDescription", "FileVersion" and any others. A file without that section has no version
// information. The numeric file version is read from the "FileVersion" string.
#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Platform {

// The strings of the file's version note; nothing when the file is not an ELF file, has no
// such section, or the section is malformed.
std::optional<std::map<std::string, std::string>> ReadVersionStrings(const std::filesystem::path& file);

// The numeric file version: "FileVersion" read as one to four numbers of 0 to 65535 separated
// by "." (missing ones are 0, text after the numbers is ignored); nothing when absent.
std::optional<std::array<uint16_t, 4>> GetFileVersionNumbers(const std::filesystem::path& file);

// The section contents for the given strings, as `objcopy --add-section` takes them.
std::string MakeVersionNote(const std::vector<std::pair<std::string, std::string>>& strings);

}  // namespace Platform
