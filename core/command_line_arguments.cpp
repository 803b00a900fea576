#include "core/command_line_arguments.h"

#include <cstdint>
#include <limits>

#include "platform/text.h"

namespace CustomInstaller {

namespace {

bool IsSpace(wchar_t c) { return Platform::IsEcmaWhiteSpace(c); }

bool IsWordChar(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
         c == L'_';
}

struct OptionMatch {
  size_t nameBegin = 0;
  size_t nameEnd = 0;
  size_t valueBegin = 0;
  size_t valueEnd = 0;
  size_t end = 0;  // first position after the whole match
};

size_t SkipSpaces(std::wstring_view text, size_t i) {
  while (i < text.size() && IsSpace(text[i])) ++i;
  return i;
}

// Group 2 and 3 of the grammar with the name starting at `start`.
bool MatchOptionAt(std::wstring_view text, size_t start, OptionMatch& m) {
  if (start >= text.size() || (text[start] != L'/' && text[start] != L'-')) return false;
  size_t e = start + 1;
  while (e < text.size() && IsWordChar(text[e])) ++e;
  if (e == start + 1) return false;
  // The value part may match empty, so the greedy \w+ is never given back.
  m.nameBegin = start;
  m.nameEnd = e;
  m.valueBegin = m.valueEnd = m.end = e;

  // \s*[=\s]\s* before a value: either the leading blanks are taken whole and "=" follows
  // (tried first), or one blank is the separator and the value starts right after the blanks.
  const size_t j = SkipSpaces(text, e);
  size_t candidates[2];
  size_t count = 0;
  if (j < text.size() && text[j] == L'=') candidates[count++] = SkipSpaces(text, j + 1);
  if (j > e) candidates[count++] = j;

  // First alternative: a double-quoted value.
  for (size_t c = 0; c < count; ++c) {
    const size_t k = candidates[c];
    if (k < text.size() && text[k] == L'"') {
      const size_t close = text.find(L'"', k + 1);
      if (close != std::wstring_view::npos) {
        m.valueBegin = k + 1;
        m.valueEnd = close;
        m.end = close + 1;
        return true;
      }
    }
  }
  // Second alternative: an unquoted value that starts with neither "-", "/" nor a blank and
  // runs up to the next blank or double quote.
  for (size_t c = 0; c < count; ++c) {
    const size_t k = candidates[c];
    if (k < text.size() && !IsSpace(text[k]) && text[k] != L'-' && text[k] != L'/') {
      size_t v = k + 1;
      while (v < text.size() && text[v] != L'"' && !IsSpace(text[v])) ++v;
      m.valueBegin = k;
      m.valueEnd = v;
      m.end = v;
      return true;
    }
  }
  return true;  // a name without a value
}

// Leftmost match in `text`; "^" matches only at position 0.
bool SearchOption(std::wstring_view text, OptionMatch& m) {
  for (size_t p = 0; p < text.size(); ++p) {
    if (p == 0 && MatchOptionAt(text, 0, m)) return true;
    if (IsSpace(text[p]) && MatchOptionAt(text, p + 1, m)) return true;
  }
  return false;
}

}  // namespace

CCommandLineArguments::CCommandLineArguments(std::wstring_view commandLine) {
  std::wstring_view remaining = commandLine;
  OptionMatch m;
  while (SearchOption(remaining, m)) {
    m_arguments.emplace(std::wstring(remaining.substr(m.nameBegin, m.nameEnd - m.nameBegin)),
                        std::wstring(remaining.substr(m.valueBegin, m.valueEnd - m.valueBegin)));
    remaining.remove_prefix(m.end);
  }
}

bool CCommandLineArguments::HasArgument(const std::wstring& name) const {
  return m_arguments.count(name) != 0;
}

bool CCommandLineArguments::GetArgument(const std::wstring& name, std::wstring& value) const {
  const auto it = m_arguments.find(name);
  if (it == m_arguments.end()) return false;
  value = it->second;
  return true;
}

std::wstring CCommandLineArguments::GetStringArgument(const std::wstring& name) const {
  std::wstring value;
  if (!name.empty()) GetArgument(name, value);
  return value;
}

uint32_t CCommandLineArguments::GetIntArgument(const std::wstring& name) const {
  std::wstring value;
  if (name.empty() || !GetArgument(name, value)) return 0;
  return ParseUnsignedOption(value);
}

uint32_t ParseUnsignedOption(std::wstring_view value) {
  size_t i = 0;
  bool negative = false;
  if (i < value.size() && (value[i] == L'+' || value[i] == L'-')) {
    negative = value[i] == L'-';
    ++i;
  }
  if (i == value.size()) return 0;
  // Accumulate the magnitude; anything past int32's range fails the whole value.
  const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                 : std::numeric_limits<int32_t>::max();
  int64_t magnitude = 0;
  for (; i < value.size(); ++i) {
    const wchar_t c = value[i];
    if (c < L'0' || c > L'9') return 0;
    magnitude = magnitude * 10 + (c - L'0');
    if (magnitude > limit) return 0;
  }
  return negative ? 0 : static_cast<uint32_t>(magnitude);
}

}  // namespace CustomInstaller
