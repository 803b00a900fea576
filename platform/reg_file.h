#pragma once
// Regedit-format registry files (".reg"): "Windows Registry Editor Version 5.00" (UTF-16LE
// with a byte-order mark, or UTF-8) and "REGEDIT4". Used by tools/omk-reg and by test
// fixtures to fill the file-backed registry.
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace Platform {

struct RegFileOperation {
  enum class Kind { CreateKey, DeleteKey, SetValue, DeleteValue };
  Kind kind = Kind::CreateKey;
  RegistryHive hive = RegistryHive::LocalMachine;
  std::wstring keyPath;
  std::wstring valueName;  // empty for the default value ("@")
  RegistryValue value;
};

class RegFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses the whole file first; throws RegFileError (naming the line) on the first malformed
// line, so that a bad file changes nothing.
std::vector<RegFileOperation> ParseRegFile(std::string_view bytes);

// Applies the operations in order. Throws std::system_error when a write fails.
void ApplyRegFile(const std::vector<RegFileOperation>& operations, RegistryView view);

}  // namespace Platform
