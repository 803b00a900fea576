#include "platform/registry.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cwctype>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/text.h"

namespace Platform {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kKeyPrefix = "K_";
constexpr std::string_view kValuePrefix = "V_";
constexpr std::string_view kTempPrefix = "T_";
// A value file larger than this is treated as unreadable.
constexpr std::uintmax_t kMaxValueFileSize = 16u << 20;

bool IsPlainNameByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' ||
         c == '-' || c == '_' || c == '.' || c == '{' || c == '}' || c == '(' || c == ')';
}

std::string EncodeName(std::wstring_view name) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : WideToUtf8(name)) {
    if (IsPlainNameByte(c)) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

std::wstring DecodeName(std::string_view encoded) {
  std::string bytes;
  for (size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == '%' && i + 2 < encoded.size()) {
      const int hi = HexDigitValue(static_cast<unsigned char>(encoded[i + 1]));
      const int lo = HexDigitValue(static_cast<unsigned char>(encoded[i + 2]));
      if (hi >= 0 && lo >= 0) {
        bytes.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    bytes.push_back(encoded[i]);
  }
  return Utf8ToWide(bytes);
}

std::wstring Fold(std::wstring_view text) {
  std::wstring out(text);
  for (auto& c : out) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return out;
}

const char* HiveFolder(RegistryHive hive) {
  switch (hive) {
    case RegistryHive::LocalMachine: return "HKLM";
    case RegistryHive::CurrentUser: return "HKCU";
    case RegistryHive::Users: return "HKU";
    case RegistryHive::ClassesRoot: return "HKCR";
  }
  return "HKLM";
}

struct KeyLocation {
  fs::path hiveFolder;
  std::vector<std::wstring> components;
};

KeyLocation Locate(RegistryHive hive, std::wstring_view keyPath, RegistryView view) {
  KeyLocation loc;
  size_t start = 0;
  while (start <= keyPath.size()) {
    size_t end = keyPath.find(L'\\', start);
    if (end == std::wstring_view::npos) end = keyPath.size();
    if (end > start) loc.components.emplace_back(keyPath.substr(start, end - start));
    start = end + 1;
  }
  if (hive == RegistryHive::LocalMachine && loc.components.size() >= 2 &&
      Fold(loc.components[0]) == L"software" && Fold(loc.components[1]) == L"wow6432node") {
    loc.components.erase(loc.components.begin() + 1);
    view = RegistryView::View32;
  }
  loc.hiveFolder = GetRegistryRoot() / (view == RegistryView::View64 ? "64" : "32") / HiveFolder(hive);
  return loc;
}

// The entry of `folder` named prefix + name, matched without regard to letter case.
std::optional<fs::path> FindEntry(const fs::path& folder, std::string_view prefix, std::wstring_view name) {
  std::error_code ec;
  fs::path exact = folder / (std::string(prefix) + EncodeName(name));
  if (fs::exists(fs::symlink_status(exact, ec))) return exact;
  const std::wstring wanted = Fold(name);
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string file = it->path().filename().string();
    if (file.compare(0, prefix.size(), prefix) == 0 && Fold(DecodeName(file.substr(prefix.size()))) == wanted) {
      return it->path();
    }
  }
  return std::nullopt;
}

std::optional<fs::path> FindKey(const KeyLocation& loc) {
  fs::path folder = loc.hiveFolder;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return std::nullopt;
  for (const auto& component : loc.components) {
    auto next = FindEntry(folder, kKeyPrefix, component);
    if (!next || !fs::is_directory(fs::symlink_status(*next, ec))) return std::nullopt;
    folder = *next;
  }
  return folder;
}

fs::path CreateKeyFolders(const KeyLocation& loc) {
  fs::path folder = loc.hiveFolder;
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) throw std::system_error(ec, "cannot create registry folder " + folder.string());
  for (const auto& component : loc.components) {
    if (auto existing = FindEntry(folder, kKeyPrefix, component)) {
      folder = *existing;
      continue;
    }
    const fs::path created = folder / (std::string(kKeyPrefix) + EncodeName(component));
    if (::mkdir(created.c_str(), 0755) != 0 && errno != EEXIST) {
      throw std::system_error(errno, std::generic_category(), "cannot create registry key " + created.string());
    }
    folder = created;
  }
  return folder;
}

std::string Serialize(const RegistryValue& value) {
  std::string out = std::to_string(static_cast<uint32_t>(value.type)) + "\n";
  switch (value.type) {
    case RegistryValueType::String:
    case RegistryValueType::ExpandString: out += WideToUtf8(value.text); break;
    case RegistryValueType::MultiString:
      for (const auto& s : value.strings) {
        out += WideToUtf8(s);
        out.push_back('\0');
      }
      break;
    case RegistryValueType::Dword: out += std::to_string(value.number & 0xFFFFFFFFu); break;
    case RegistryValueType::Qword: out += std::to_string(value.number); break;
    case RegistryValueType::Binary: out.append(value.bytes.begin(), value.bytes.end()); break;
  }
  return out;
}

std::optional<RegistryValue> Deserialize(const std::string& data) {
  const auto newline = data.find('\n');
  if (newline == std::string::npos) return std::nullopt;
  uint32_t type = 0;
  if (std::from_chars(data.data(), data.data() + newline, type).ptr != data.data() + newline) return std::nullopt;
  const std::string_view payload(data.data() + newline + 1, data.size() - newline - 1);
  RegistryValue value;
  value.type = static_cast<RegistryValueType>(type);
  switch (value.type) {
    case RegistryValueType::String:
    case RegistryValueType::ExpandString: value.text = Utf8ToWide(payload); return value;
    case RegistryValueType::MultiString: {
      size_t start = 0;
      while (start < payload.size()) {
        size_t end = payload.find('\0', start);
        if (end == std::string_view::npos) end = payload.size();
        value.strings.push_back(Utf8ToWide(payload.substr(start, end - start)));
        start = end + 1;
      }
      return value;
    }
    case RegistryValueType::Dword:
    case RegistryValueType::Qword: {
      const auto* end = payload.data() + payload.size();
      if (payload.empty() || std::from_chars(payload.data(), end, value.number).ptr != end) return std::nullopt;
      if (value.type == RegistryValueType::Dword && value.number > 0xFFFFFFFFu) return std::nullopt;
      return value;
    }
    case RegistryValueType::Binary: value.bytes.assign(payload.begin(), payload.end()); return value;
  }
  return std::nullopt;
}

// Writes `data` to a new temporary file in `folder` and renames it to `target`.
void WriteAtomically(const fs::path& folder, const fs::path& target, const std::string& data) {
  std::string pattern = (folder / (std::string(kTempPrefix) + "XXXXXX")).string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "cannot write registry value in " + folder.string());
  size_t written = 0;
  int error = 0;
  while (written < data.size()) {
    const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    written += static_cast<size_t>(n);
  }
  if (error == 0 && (::fchmod(fd, 0644) != 0 || ::fsync(fd) != 0)) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(pattern.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(pattern.c_str());
    throw std::system_error(error, std::generic_category(), "cannot write registry value " + target.string());
  }
}

}  // namespace

RegistryValue RegistryValue::Text(std::wstring value, RegistryValueType type) {
  RegistryValue v;
  v.type = type;
  v.text = std::move(value);
  return v;
}

RegistryValue RegistryValue::Number(uint64_t value, RegistryValueType type) {
  RegistryValue v;
  v.type = type;
  v.number = value;
  return v;
}

fs::path GetRegistryRoot() {
  const char* root = std::getenv("OMK_REGISTRY_ROOT");
  if (root != nullptr && *root != '\0') return root;
  return "/var/lib/omk/registry";
}

std::optional<RegistryHive> ParseRegistryHive(std::wstring_view name) {
  const std::wstring folded = Fold(name);
  if (folded == L"hkey_local_machine" || folded == L"hklm") return RegistryHive::LocalMachine;
  if (folded == L"hkey_current_user" || folded == L"hkcu") return RegistryHive::CurrentUser;
  if (folded == L"hkey_users" || folded == L"hku") return RegistryHive::Users;
  if (folded == L"hkey_classes_root" || folded == L"hkcr") return RegistryHive::ClassesRoot;
  return std::nullopt;
}

std::optional<RegistryValue> RegQueryValue(RegistryHive hive, std::wstring_view keyPath,
                                           std::wstring_view valueName, RegistryView view) {
  const auto key = FindKey(Locate(hive, keyPath, view));
  if (!key) return std::nullopt;
  const auto file = FindEntry(*key, kValuePrefix, valueName);
  std::error_code ec;
  if (!file || !fs::is_regular_file(fs::symlink_status(*file, ec))) return std::nullopt;
  const auto size = fs::file_size(*file, ec);
  if (ec || size > kMaxValueFileSize) return std::nullopt;
  std::ifstream in(*file, std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return Deserialize(data);
}

std::optional<std::wstring> RegReadString(RegistryHive hive, std::wstring_view keyPath,
                                          std::wstring_view valueName, RegistryView view) {
  auto value = RegQueryValue(hive, keyPath, valueName, view);
  if (!value || (value->type != RegistryValueType::String && value->type != RegistryValueType::ExpandString)) {
    return std::nullopt;
  }
  return std::move(value->text);
}

bool RegKeyExists(RegistryHive hive, std::wstring_view keyPath, RegistryView view) {
  return FindKey(Locate(hive, keyPath, view)).has_value();
}

std::vector<std::wstring> RegEnumSubKeys(RegistryHive hive, std::wstring_view keyPath, RegistryView view) {
  std::vector<std::wstring> names;
  const auto key = FindKey(Locate(hive, keyPath, view));
  if (!key) return names;
  std::error_code ec;
  for (fs::directory_iterator it(*key, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string file = it->path().filename().string();
    if (file.compare(0, kKeyPrefix.size(), kKeyPrefix) == 0 && it->is_directory(ec)) {
      names.push_back(DecodeName(std::string_view(file).substr(kKeyPrefix.size())));
    }
  }
  std::sort(names.begin(), names.end(),
            [](const std::wstring& a, const std::wstring& b) { return Fold(a) < Fold(b); });
  return names;
}

void RegCreateKey(RegistryHive hive, std::wstring_view keyPath, RegistryView view) {
  CreateKeyFolders(Locate(hive, keyPath, view));
}

void RegSetValue(RegistryHive hive, std::wstring_view keyPath, std::wstring_view valueName,
                 const RegistryValue& value, RegistryView view) {
  const fs::path key = CreateKeyFolders(Locate(hive, keyPath, view));
  const auto existing = FindEntry(key, kValuePrefix, valueName);
  WriteAtomically(key, existing ? *existing : key / (std::string(kValuePrefix) + EncodeName(valueName)),
                  Serialize(value));
}

void RegDeleteValue(RegistryHive hive, std::wstring_view keyPath, std::wstring_view valueName,
                    RegistryView view) {
  const auto key = FindKey(Locate(hive, keyPath, view));
  if (!key) return;
  if (const auto file = FindEntry(*key, kValuePrefix, valueName)) {
    if (::unlink(file->c_str()) != 0 && errno != ENOENT) {
      throw std::system_error(errno, std::generic_category(), "cannot delete registry value " + file->string());
    }
  }
}

void RegDeleteKeyTree(RegistryHive hive, std::wstring_view keyPath, RegistryView view) {
  const KeyLocation loc = Locate(hive, keyPath, view);
  if (loc.components.empty()) return;  // a hive itself is never deleted
  const auto key = FindKey(loc);
  if (!key) return;
  // Move the key aside first, so that other processes see it either whole or gone.
  std::string aside = (key->parent_path() / (std::string(kTempPrefix) + "XXXXXX")).string();
  if (::mkdtemp(aside.data()) == nullptr || ::rename(key->c_str(), aside.c_str()) != 0) {
    const int error = errno;
    ::rmdir(aside.c_str());
    throw std::system_error(error, std::generic_category(), "cannot delete registry key " + key->string());
  }
  std::error_code ec;
  fs::remove_all(aside, ec);
}

}  // namespace Platform
