#include "platform/reg_file.h"

#include <cstdint>

#include "platform/text.h"

namespace Platform {

namespace {

std::wstring DecodeUtf16Le(std::string_view bytes) {
  std::u16string units;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8)));
  }
  std::wstring out;
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    out.push_back(static_cast<wchar_t>(c));
  }
  return out;
}

std::wstring DecodeFile(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xFE) {
    return DecodeUtf16Le(bytes.substr(2));
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  return Utf8ToWide(bytes);
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r'; }

std::wstring_view Trim(std::wstring_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

class Parser {
 public:
  explicit Parser(std::wstring text) : m_text(std::move(text)) {}

  std::vector<RegFileOperation> Run() {
    std::vector<std::wstring> lines = SplitLines();
    size_t i = 0;
    while (i < lines.size() && Trim(lines[i]).empty()) ++i;
    if (i == lines.size()) Fail(1, "empty file");
    const std::wstring_view header = Trim(lines[i]);
    if (header == L"Windows Registry Editor Version 5.00") {
      m_unicode = true;
    } else if (header != L"REGEDIT4") {
      Fail(i + 1, "not a registry file (unknown header)");
    }
    for (++i; i < lines.size(); ++i) {
      const size_t lineNumber = i + 1;
      std::wstring line(Trim(lines[i]));
      // Hex data may go on over several lines, each but the last ending in a backslash.
      while (!line.empty() && line.back() == L'\\' && line.find(L"=hex") != std::wstring::npos && i + 1 < lines.size()) {
        line.pop_back();
        line += Trim(lines[++i]);
      }
      if (line.empty() || line[0] == L';') continue;
      if (line[0] == L'[') {
        ParseKeyLine(line, lineNumber);
      } else {
        ParseValueLine(line, lineNumber);
      }
    }
    return std::move(m_operations);
  }

 private:
  [[noreturn]] static void Fail(size_t line, const std::string& what) {
    throw RegFileError("line " + std::to_string(line) + ": " + what);
  }

  std::vector<std::wstring> SplitLines() const {
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start <= m_text.size()) {
      size_t end = m_text.find(L'\n', start);
      if (end == std::wstring::npos) end = m_text.size();
      lines.emplace_back(m_text.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }

  void ParseKeyLine(std::wstring_view line, size_t lineNumber) {
    if (line.back() != L']') Fail(lineNumber, "key line without closing bracket");
    line = line.substr(1, line.size() - 2);
    RegFileOperation op;
    op.kind = RegFileOperation::Kind::CreateKey;
    if (!line.empty() && line[0] == L'-') {
      op.kind = RegFileOperation::Kind::DeleteKey;
      line.remove_prefix(1);
    }
    const size_t slash = line.find(L'\\');
    const auto hive = ParseRegistryHive(line.substr(0, slash));
    if (!hive) Fail(lineNumber, "unknown registry hive");
    op.hive = *hive;
    op.keyPath = slash == std::wstring_view::npos ? std::wstring() : std::wstring(line.substr(slash + 1));
    m_current = op;
    m_haveKey = op.kind == RegFileOperation::Kind::CreateKey;
    m_operations.push_back(std::move(op));
  }

  // A quoted text with \\ and \" escapes starting at line[pos]; pos ends after the closing quote.
  static std::wstring ReadQuoted(std::wstring_view line, size_t& pos, size_t lineNumber) {
    std::wstring out;
    for (++pos; pos < line.size(); ++pos) {
      if (line[pos] == L'\\' && pos + 1 < line.size()) {
        out.push_back(line[++pos]);
      } else if (line[pos] == L'"') {
        ++pos;
        return out;
      } else {
        out.push_back(line[pos]);
      }
    }
    Fail(lineNumber, "unterminated quoted text");
  }

  static std::string ReadHexBytes(std::wstring_view data, size_t lineNumber) {
    std::string bytes;
    size_t i = 0;
    while (i < data.size()) {
      while (i < data.size() && (IsBlank(data[i]) || data[i] == L',')) ++i;
      if (i == data.size()) break;
      int value = 0;
      size_t digits = 0;
      for (; i < data.size() && digits < 3; ++i, ++digits) {
        const wchar_t c = data[i];
        const int d = HexDigitValue(c);
        if (d < 0) break;
        value = value * 16 + d;
      }
      if (digits == 0 || digits > 2 || (i < data.size() && data[i] != L',' && !IsBlank(data[i]))) {
        Fail(lineNumber, "malformed hex data");
      }
      bytes.push_back(static_cast<char>(value));
    }
    return bytes;
  }

  std::wstring BytesToText(const std::string& bytes) const {
    std::wstring text = m_unicode ? DecodeUtf16Le(bytes) : Utf8ToWide(bytes);
    return text;
  }

  RegistryValue HexValue(uint32_t type, const std::string& bytes, size_t lineNumber) const {
    RegistryValue value;
    value.type = static_cast<RegistryValueType>(type);
    switch (value.type) {
      case RegistryValueType::String:
      case RegistryValueType::ExpandString: {
        value.text = BytesToText(bytes);
        while (!value.text.empty() && value.text.back() == L'\0') value.text.pop_back();
        return value;
      }
      case RegistryValueType::MultiString: {
        const std::wstring all = BytesToText(bytes);
        size_t start = 0;
        while (start < all.size()) {
          size_t end = all.find(L'\0', start);
          if (end == std::wstring::npos) end = all.size();
          if (end == start) break;  // the empty string that ends the list
          value.strings.push_back(all.substr(start, end - start));
          start = end + 1;
        }
        return value;
      }
      case RegistryValueType::Dword:
      case RegistryValueType::Qword: {
        const size_t width = value.type == RegistryValueType::Dword ? 4 : 8;
        if (bytes.size() != width) Fail(lineNumber, "wrong number of bytes for a number");
        for (size_t k = width; k-- > 0;) value.number = (value.number << 8) | static_cast<uint8_t>(bytes[k]);
        return value;
      }
      case RegistryValueType::Binary: value.bytes.assign(bytes.begin(), bytes.end()); return value;
    }
    Fail(lineNumber, "unsupported value type");
  }

  void ParseValueLine(std::wstring_view line, size_t lineNumber) {
    if (!m_haveKey) Fail(lineNumber, "value outside a key");
    RegFileOperation op = m_current;
    op.kind = RegFileOperation::Kind::SetValue;
    size_t pos = 0;
    if (line[0] == L'@') {
      pos = 1;
    } else if (line[0] == L'"') {
      op.valueName = ReadQuoted(line, pos, lineNumber);
    } else {
      Fail(lineNumber, "expected a value name");
    }
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos == line.size() || line[pos] != L'=') Fail(lineNumber, "expected '='");
    std::wstring_view data = Trim(line.substr(pos + 1));
    if (data == L"-") {
      op.kind = RegFileOperation::Kind::DeleteValue;
    } else if (!data.empty() && data[0] == L'"') {
      size_t p = 0;
      op.value = RegistryValue::Text(ReadQuoted(data, p, lineNumber));
      if (!Trim(data.substr(p)).empty()) Fail(lineNumber, "text after the closing quote");
    } else if (data.substr(0, 6) == L"dword:") {
      const std::wstring_view digits = data.substr(6);
      if (digits.empty() || digits.size() > 8) Fail(lineNumber, "malformed dword");
      uint64_t number = 0;
      for (wchar_t c : digits) {
        const int d = HexDigitValue(c);
        if (d < 0) Fail(lineNumber, "malformed dword");
        number = number * 16 + static_cast<uint64_t>(d);
      }
      op.value = RegistryValue::Number(number);
    } else if (data.substr(0, 4) == L"hex:") {
      op.value = HexValue(3, ReadHexBytes(data.substr(4), lineNumber), lineNumber);
    } else if (data.substr(0, 4) == L"hex(") {
      const size_t close = data.find(L"):");
      if (close == std::wstring_view::npos || close == 4 || close > 6) Fail(lineNumber, "malformed hex type");
      uint32_t type = 0;
      for (wchar_t c : data.substr(4, close - 4)) {
        const int d = HexDigitValue(c);
        if (d < 0) Fail(lineNumber, "malformed hex type");
        type = type * 16 + static_cast<uint32_t>(d);
      }
      op.value = HexValue(type, ReadHexBytes(data.substr(close + 2), lineNumber), lineNumber);
    } else {
      Fail(lineNumber, "unknown value data");
    }
    m_operations.push_back(std::move(op));
  }

  std::wstring m_text;
  bool m_unicode = false;
  bool m_haveKey = false;
  RegFileOperation m_current;
  std::vector<RegFileOperation> m_operations;
};

}  // namespace

std::vector<RegFileOperation> ParseRegFile(std::string_view bytes) {
  return Parser(DecodeFile(bytes)).Run();
}

void ApplyRegFile(const std::vector<RegFileOperation>& operations, RegistryView view) {
  for (const auto& op : operations) {
    switch (op.kind) {
      case RegFileOperation::Kind::CreateKey: RegCreateKey(op.hive, op.keyPath, view); break;
      case RegFileOperation::Kind::DeleteKey: RegDeleteKeyTree(op.hive, op.keyPath, view); break;
      case RegFileOperation::Kind::SetValue: RegSetValue(op.hive, op.keyPath, op.valueName, op.value, view); break;
      case RegFileOperation::Kind::DeleteValue: RegDeleteValue(op.hive, op.keyPath, op.valueName, view); break;
    }
  }
}

}  // namespace Platform
