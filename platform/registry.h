#pragma once
// A file-backed registry with the shape the program expects of a system registry: hives, keys
// holding subkeys and named values, and separate 64-bit and 32-bit views.
//
// Layout: <root>/<view>/<hive>/K_<key>/.../V_<value>, names percent-encoded. Key and value
// names are matched without regard to letter case and keep the case they were created with.
// Every value write goes to a temporary file in the key's folder that is then renamed over
// the value file, so several processes may read and write at once and a reader never sees a
// half-written value. Under HKEY_LOCAL_MACHINE, "SOFTWARE\Wow6432Node\..." names the same
// keys as "SOFTWARE\..." in the 32-bit view.
//
// The root is $OMK_REGISTRY_ROOT when set, else /var/lib/omk/registry.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Platform {

enum class RegistryHive { LocalMachine, CurrentUser, Users, ClassesRoot };
enum class RegistryView { View64, View32 };

enum class RegistryValueType : uint32_t {
  String = 1,        // REG_SZ
  ExpandString = 2,  // REG_EXPAND_SZ
  Binary = 3,        // REG_BINARY
  Dword = 4,         // REG_DWORD
  MultiString = 7,   // REG_MULTI_SZ
  Qword = 11,        // REG_QWORD
};

struct RegistryValue {
  RegistryValueType type = RegistryValueType::String;
  std::wstring text;                  // String, ExpandString
  std::vector<std::wstring> strings;  // MultiString
  uint64_t number = 0;                // Dword, Qword
  std::vector<uint8_t> bytes;         // Binary

  static RegistryValue Text(std::wstring value, RegistryValueType type = RegistryValueType::String);
  static RegistryValue Number(uint64_t value, RegistryValueType type = RegistryValueType::Dword);
  bool operator==(const RegistryValue&) const = default;
};

std::filesystem::path GetRegistryRoot();

// "HKEY_LOCAL_MACHINE" or "HKLM" and the other three, any letter case.
std::optional<RegistryHive> ParseRegistryHive(std::wstring_view name);

// The value, or nothing when the key or the value is absent or its file is unreadable.
// An empty value name is the key's default value.
std::optional<RegistryValue> RegQueryValue(RegistryHive hive, std::wstring_view keyPath,
                                           std::wstring_view valueName, RegistryView view);

// The text of a String or ExpandString value (not expanded); nothing for other types.
std::optional<std::wstring> RegReadString(RegistryHive hive, std::wstring_view keyPath,
                                          std::wstring_view valueName, RegistryView view);

bool RegKeyExists(RegistryHive hive, std::wstring_view keyPath, RegistryView view);

// Names of the key's subkeys, sorted without regard to letter case; empty when it is absent.
std::vector<std::wstring> RegEnumSubKeys(RegistryHive hive, std::wstring_view keyPath,
                                         RegistryView view);

// Creates the key and its parents as needed. Throw std::system_error on failure.
void RegCreateKey(RegistryHive hive, std::wstring_view keyPath, RegistryView view);
void RegSetValue(RegistryHive hive, std::wstring_view keyPath, std::wstring_view valueName,
                 const RegistryValue& value, RegistryView view);
// Absent keys and values are not an error.
void RegDeleteValue(RegistryHive hive, std::wstring_view keyPath, std::wstring_view valueName,
                    RegistryView view);
void RegDeleteKeyTree(RegistryHive hive, std::wstring_view keyPath, RegistryView view);

}  // namespace Platform
