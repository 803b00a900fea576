// Fuzzes the option parser: any bytes, decoded as the program decodes its arguments.
// Short ASCII inputs are also checked against the library regex of the same grammar.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>

#include "core/command_line_arguments.h"
#include "platform/text.h"

namespace {

CustomInstaller::CCommandLineArguments::Map ParseWithRegex(const std::wstring& text) {
  static const std::wregex re(
      LR"re((^|[\s]{1})([\/-]{1}\w+)((\s*[=\s]{1}\s*"([^"]*)"|\s*[=\s]{1}\s*([^-\/\s]{1}[^"\s]*))?|$))re");
  CustomInstaller::CCommandLineArguments::Map map;
  std::wstring remaining = text;
  std::wsmatch m;
  while (std::regex_search(remaining, m, re)) {
    map.emplace(m[2].str(), m[6].matched ? m[6].str() : m[5].str());
    remaining = m.suffix().str();
  }
  return map;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::wstring text = Platform::Utf8ToWide(bytes);
  const CustomInstaller::CCommandLineArguments args(text);
  for (const auto& [name, value] : args.GetArguments()) {
    (void)args.GetIntArgument(name);
    if (name.size() < 2 || (name[0] != L'/' && name[0] != L'-')) std::abort();
  }
  bool ascii = size <= 256;
  for (unsigned char c : bytes) ascii = ascii && c < 0x80;
  if (ascii && args.GetArguments() != ParseWithRegex(text)) std::abort();
  return 0;
}
