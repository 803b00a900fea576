#pragma once
// Text conversions between the program's wide strings and UTF-8 bytes.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace Platform {

// Decodes UTF-8; every byte that does not start a well-formed sequence becomes U+FFFD,
// so any byte sequence yields text and nothing is dropped silently.
std::wstring Utf8ToWide(std::string_view bytes);

// Encodes to UTF-8; values that are not Unicode scalar values become U+FFFD.
std::string WideToUtf8(std::wstring_view text);

// Strict forms: false (and `out` unchanged) when the input is not well-formed, i.e. an
// ill-formed UTF-8 sequence, or a wide value that is a surrogate or above U+10FFFF.
bool TryUtf8ToWide(std::string_view bytes, std::wstring& out);
bool TryWideToUtf8(std::wstring_view text, std::string& out);

// White space as ECMAScript regular expressions read "\s": ASCII blanks and line ends,
// U+00A0, U+FEFF, the Unicode space separators and U+2028/U+2029.
bool IsEcmaWhiteSpace(wchar_t c);

// A path from the program's wide text (UTF-8 on disk).
std::filesystem::path WideToPath(std::wstring_view text);

// The value of one hexadecimal digit of either case; -1 for any other character.
int HexDigitValue(wchar_t c);

// Bytes as lowercase hexadecimal digits, two per byte.
std::string LowerHex(const uint8_t* data, size_t size);

}  // namespace Platform
