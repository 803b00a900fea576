#include "platform/machine_id.h"

#include <cctype>
#include <fstream>

namespace Platform {

std::wstring FormatMachineGuid(std::string_view machineId) {
  while (!machineId.empty() && (machineId.back() == '\n' || machineId.back() == '\r')) {
    machineId.remove_suffix(1);
  }
  if (machineId.size() != 32) return {};
  std::wstring guid;
  guid.reserve(36);
  for (size_t i = 0; i < machineId.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(machineId[i]);
    if (!std::isxdigit(c)) return {};
    if (i == 8 || i == 12 || i == 16 || i == 20) guid.push_back(L'-');
    guid.push_back(static_cast<wchar_t>(std::tolower(c)));
  }
  return guid;
}

std::wstring ReadMachineGuid(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  // A machine id is one short line; anything longer is not one.
  char buffer[64];
  in.read(buffer, sizeof(buffer));
  return FormatMachineGuid(std::string_view(buffer, static_cast<size_t>(in.gcount())));
}

}  // namespace Platform
