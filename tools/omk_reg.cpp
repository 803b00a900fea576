// omk-reg: fills and reads the file-backed registry ($OMK_REGISTRY_ROOT, else
// /var/lib/omk/registry).
//   omk-reg import [/reg:32|/reg:64] FILE.reg...    apply regedit-format files
//   omk-reg query [/reg:32|/reg:64] KEY [NAME]       print a value (no NAME: the default value)
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/reg_file.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

int Usage() {
  std::cerr << "usage: omk-reg import [/reg:32|/reg:64] FILE.reg...\n"
               "       omk-reg query [/reg:32|/reg:64] KEY [NAME]\n";
  return 2;
}

int Import(const std::vector<std::string>& files, Platform::RegistryView view) {
  // Every file is parsed before anything is written, so a bad file changes nothing.
  std::vector<std::vector<Platform::RegFileOperation>> parsed;
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      std::cerr << "omk-reg: cannot read " << file << '\n';
      return 1;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    try {
      parsed.push_back(Platform::ParseRegFile(bytes));
    } catch (const Platform::RegFileError& e) {
      std::cerr << "omk-reg: " << file << ": " << e.what() << '\n';
      return 1;
    }
  }
  for (const auto& operations : parsed) Platform::ApplyRegFile(operations, view);
  return 0;
}

int Query(const std::string& key, const std::string& name, Platform::RegistryView view) {
  const std::wstring wideKey = Platform::Utf8ToWide(key);
  const size_t slash = wideKey.find(L'\\');
  const auto hive = Platform::ParseRegistryHive(wideKey.substr(0, slash));
  if (!hive) {
    std::cerr << "omk-reg: unknown hive in " << key << '\n';
    return 2;
  }
  const std::wstring path = slash == std::wstring::npos ? std::wstring() : wideKey.substr(slash + 1);
  const auto value = Platform::RegQueryValue(*hive, path, Platform::Utf8ToWide(name), view);
  if (!value) {
    std::cerr << "omk-reg: value not found\n";
    return 1;
  }
  using Type = Platform::RegistryValueType;
  switch (value->type) {
    case Type::String:
    case Type::ExpandString: std::cout << Platform::WideToUtf8(value->text) << '\n'; break;
    case Type::MultiString:
      for (const auto& s : value->strings) std::cout << Platform::WideToUtf8(s) << '\n';
      break;
    case Type::Dword:
    case Type::Qword: std::cout << value->number << '\n'; break;
    case Type::Binary:
      for (uint8_t b : value->bytes) std::printf("%02x", b);
      std::printf("\n");
      break;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  const std::string command = args[0];
  args.erase(args.begin());
  auto view = Platform::RegistryView::View64;
  if (!args.empty() && (args[0] == "/reg:32" || args[0] == "/reg:64")) {
    if (args[0] == "/reg:32") view = Platform::RegistryView::View32;
    args.erase(args.begin());
  }
  try {
    if (command == "import" && !args.empty()) return Import(args, view);
    if (command == "query" && (args.size() == 1 || args.size() == 2)) {
      return Query(args[0], args.size() == 2 ? args[1] : std::string(), view);
    }
  } catch (const std::exception& e) {
    std::cerr << "omk-reg: " << e.what() << '\n';
    return 1;
  }
  return Usage();
}
