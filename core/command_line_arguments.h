#pragma once
// NSIS-style options ("/NAME", "/NAME=value", "/NAME value", "-NAME ...") read from one text.
#include <map>
#include <string>
#include <string_view>

namespace CustomInstaller {

// Option name (with its leading "/" or "-", case-sensitive) to value (possibly empty).
// The first occurrence of a name wins. Parsing never fails: text without options gives an
// empty map.
//
// The grammar is the ECMAScript regular expression
//   (^|[\s]{1})([\/-]{1}\w+)((\s*[=\s]{1}\s*"([^"]*)"|\s*[=\s]{1}\s*([^-\/\s]{1}[^"\s]*))?|$)
// searched again and again on the text after the previous match ("^" matches at the start of
// each remaining text). It is matched by hand, with the same leftmost-first backtracking
// choices, because a library regex engine recurses per character and overflows the stack on
// long command lines. "\w" is [A-Za-z0-9_] and "\s" is ECMAScript white space.
class CCommandLineArguments {
 public:
  using Map = std::map<std::wstring, std::wstring>;

  explicit CCommandLineArguments(std::wstring_view commandLine);

  bool HasArgument(const std::wstring& name) const;
  bool GetArgument(const std::wstring& name, std::wstring& value) const;
  // The value, or empty when the name is empty or absent.
  std::wstring GetStringArgument(const std::wstring& name) const;
  // The value read as a whole decimal int32 with optional sign; 0 when the name is empty or
  // absent, the value is not such a number, or it is negative.
  uint32_t GetIntArgument(const std::wstring& name) const;

  const Map& GetArguments() const { return m_arguments; }

 private:
  Map m_arguments;
};

// The integer rule of GetIntArgument applied to one value.
uint32_t ParseUnsignedOption(std::wstring_view value);

}  // namespace CustomInstaller
