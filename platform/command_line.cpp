#include "platform/command_line.h"

#include <algorithm>
#include <optional>

#include "platform/text.h"

namespace Platform {

namespace {

bool IsWordChar(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
         c == L'_';
}

// Length of the "/NAME=" prefix of an argument, or 0 when it does not start that way.
size_t OptionPrefixLength(const std::wstring& arg) {
  if (arg.size() < 3 || (arg[0] != L'/' && arg[0] != L'-')) return 0;
  size_t i = 1;
  while (i < arg.size() && IsWordChar(arg[i])) ++i;
  if (i == 1 || i >= arg.size() || arg[i] != L'=') return 0;
  return i + 1;
}

bool IsQuotedWhole(std::wstring_view v) {
  return v.size() >= 2 && v.front() == L'"' && v.back() == L'"' &&
         v.substr(1, v.size() - 2).find(L'"') == std::wstring_view::npos;
}

// Whether the grammar would read this text back whole as an unquoted value.
bool ReadsBackUnquoted(std::wstring_view value) {
  if (value.empty()) return true;
  if (value.front() == L'/' || value.front() == L'-') return false;
  return std::none_of(value.begin(), value.end(), IsEcmaWhiteSpace);
}

// "/NAME" or "/NAME=" alone: the next argument is read as its value.
bool IsBareName(const std::wstring& arg) {
  if (arg.size() < 2 || (arg[0] != L'/' && arg[0] != L'-')) return false;
  size_t i = 1;
  while (i < arg.size() && IsWordChar(arg[i])) ++i;
  return i > 1 && (i == arg.size() || (i + 1 == arg.size() && arg[i] == L'='));
}

// White space followed by "/" or "-": where this text is not a value, the grammar finds a name
// there.
bool HoldsNameAfterSpace(std::wstring_view text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (IsEcmaWhiteSpace(text[i]) && (text[i + 1] == L'/' || text[i + 1] == L'-')) return true;
  }
  return false;
}

// The argument as the joined text holds it, or nothing when the grammar cannot hold it whole.
std::optional<std::wstring> QuoteArgument(const std::wstring& arg, bool afterBareName) {
  if (arg.empty()) return L"\"\"";
  const size_t prefix = OptionPrefixLength(arg);
  const std::wstring_view value = std::wstring_view(arg).substr(prefix);
  const bool quotedWhole = IsQuotedWhole(value);
  // Quotes inside would end the quoted value early and the rest would be read as options.
  if (!quotedWhole && value.find(L'"') != std::wstring_view::npos) return std::nullopt;
  if (prefix == 0 && !afterBareName && HoldsNameAfterSpace(value)) return std::nullopt;
  if (prefix > 0) {
    // "/NAME=value": quote the value when it holds white space or starts like a name
    // (an absolute path such as "/tmp/x" would otherwise be read as options).
    if (ReadsBackUnquoted(value) || quotedWhole) return arg;
  } else if (std::none_of(arg.begin(), arg.end(), IsEcmaWhiteSpace) || quotedWhole) {
    return arg;
  }
  std::wstring out = arg.substr(0, prefix);
  out += L'"';
  out += value;
  out += L'"';
  return out;
}

}  // namespace

std::wstring JoinCommandLine(const std::vector<std::wstring>& arguments, std::vector<std::size_t>* leftOut) {
  std::wstring text;
  bool afterBareName = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const auto quoted = QuoteArgument(arguments[i], afterBareName);
    if (!quoted) {
      if (leftOut != nullptr) leftOut->push_back(i + 1);
      continue;
    }
    if (!text.empty()) text += L' ';
    text += *quoted;
    afterBareName = IsBareName(arguments[i]);
  }
  return text;
}

std::wstring GetCommandLineText(int argc, const char* const* argv, std::vector<std::size_t>* leftOut) {
  std::vector<std::wstring> args;
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) args.push_back(Utf8ToWide(argv[i]));
  return JoinCommandLine(args, leftOut);
}

}  // namespace Platform
