#include "platform/text.h"

#include <gtest/gtest.h>

namespace Platform {
namespace {

TEST(Utf8Test, DecodesWellFormedText) {
  EXPECT_EQ(Utf8ToWide("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), std::wstring(L"a\u00E9\u20AC\U0001F600"));
  EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

TEST(Utf8Test, IllFormedBytesBecomeReplacementCharacters) {
  const std::pair<std::string, std::wstring> cases[] = {
      {"\xFF", L"\uFFFD"},                       // never a lead byte
      {"\x80x", L"\uFFFDx"},                     // stray continuation
      {"\xC0\xAF", L"\uFFFD\uFFFD"},             // overlong "/"
      {"\xE0\x80\xAF", L"\uFFFD\uFFFD\uFFFD"},   // overlong three-byte form
      {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},   // encoded surrogate
      {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xE2\x82", L"\uFFFD"},                   // truncated at the end
      {"\xE2\x82x", L"\uFFFDx"},                 // truncated before ASCII
      {"\xF0\x9F\x98", L"\uFFFD"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(Utf8ToWide(bytes), text);
}

TEST(Utf8Test, EncodesAndRoundTrips) {
  const std::wstring text = L"/LANG=d\u00E9 \u20AC \U0001F600";
  EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
  EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace Platform

namespace Platform {
namespace {

TEST(StrictTextTest, RefusesIllFormedInput) {
  std::wstring wide = L"keep";
  EXPECT_FALSE(TryUtf8ToWide("a\xC3", wide));
  EXPECT_EQ(wide, L"keep");
  EXPECT_TRUE(TryUtf8ToWide("a\xEF\xBF\xBD" "b\xC3\xA9", wide));  // a real U+FFFD is fine
  EXPECT_EQ(wide, L"a\uFFFDb\u00E9");

  std::string narrow = "keep";
  EXPECT_FALSE(TryWideToUtf8(std::wstring(L"a") + static_cast<wchar_t>(0xDC00), narrow));
  EXPECT_EQ(narrow, "keep");
  EXPECT_TRUE(TryWideToUtf8(L"\u00E9", narrow));
  EXPECT_EQ(narrow, "\xC3\xA9");
}

}  // namespace
}  // namespace Platform
