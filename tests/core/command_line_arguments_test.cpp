#include "core/command_line_arguments.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>

#include "platform/command_line.h"

namespace CustomInstaller {
namespace {

using Map = CCommandLineArguments::Map;

struct GrammarCase {
  const char* what;
  std::wstring text;
  Map expected;
};

void PrintTo(const GrammarCase& c, std::ostream* os) { *os << c.what; }

class GrammarTest : public testing::TestWithParam<GrammarCase> {};

TEST_P(GrammarTest, ParsesToExpectedMap) {
  EXPECT_EQ(CCommandLineArguments(GetParam().text).GetArguments(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GrammarTest,
    testing::Values(
        GrammarCase{"equals", L"/BUILD_ID=123", {{L"/BUILD_ID", L"123"}}},
        GrammarCase{"space", L"/BUILD_ID 123", {{L"/BUILD_ID", L"123"}}},
        GrammarCase{"spaced_equals", L"/BUILD_ID = 123", {{L"/BUILD_ID", L"123"}}},
        GrammarCase{"tabs", L"/BUILD_ID\t\t123", {{L"/BUILD_ID", L"123"}}},
        GrammarCase{"quoted_keeps_spaces", L"/TRACKING=\"a b  c\"", {{L"/TRACKING", L"a b  c"}}},
        GrammarCase{"quoted_after_space", L"/TRACKING \"a b\" /S", {{L"/TRACKING", L"a b"}, {L"/S", L""}}},
        GrammarCase{"quoted_empty", L"/TRACKING \"\"", {{L"/TRACKING", L""}}},
        GrammarCase{"name_then_name", L"/S /VS", {{L"/S", L""}, {L"/VS", L""}}},
        GrammarCase{"negative_number_is_a_name", L"/DELAY -5", {{L"/DELAY", L""}, {L"-5", L""}}},
        GrammarCase{"negative_glued_to_equals", L"/DELAY=-5", {{L"/DELAY", L""}}},
        // With a blank before "=", the blank is the separator and "=" starts the value.
        GrammarCase{"blank_then_equals_minus", L"/DELAY =-5", {{L"/DELAY", L"=-5"}}},
        GrammarCase{"blank_equals_blank_minus", L"/DELAY = -5", {{L"/DELAY", L"="}, {L"-5", L""}}},
        GrammarCase{"double_equals", L"/A==x", {{L"/A", L"=x"}}},
        GrammarCase{"names_glued", L"/S/VS/UPDATE", {{L"/S", L""}, {L"/VS", L""}, {L"/UPDATE", L""}}},
        GrammarCase{"name_glued_after_value", L"/A=x/B", {{L"/A", L"x/B"}}},
        GrammarCase{"name_glued_after_quoted_value", L"/A=\"x\"/B", {{L"/A", L"x"}, {L"/B", L""}}},
        GrammarCase{"name_after_text", L"abc/B -C", {{L"-C", L""}}},
        GrammarCase{"first_occurrence_wins", L"/TRACKING=a /TRACKING=b", {{L"/TRACKING", L"a"}}},
        GrammarCase{"case_sensitive", L"/s /vs /S", {{L"/s", L""}, {L"/vs", L""}, {L"/S", L""}}},
        GrammarCase{"start_of_text", L"/UPDATE", {{L"/UPDATE", L""}}},
        GrammarCase{"leading_blanks", L"   /UPDATE", {{L"/UPDATE", L""}}},
        GrammarCase{"unterminated_quote_is_unquoted", L"/A=\"abc def", {{L"/A", L"\"abc"}}},
        GrammarCase{"value_stops_at_quote", L"/A=ab\"cd", {{L"/A", L"ab"}}},
        GrammarCase{"dash_names", L"-extractTrackingUID=\"/tmp/a b\"", {{L"-extractTrackingUID", L"/tmp/a b"}}},
        GrammarCase{"value_may_not_start_with_slash", L"/A /tmp/x", {{L"/A", L""}, {L"/tmp", L""}, {L"/x", L""}}},
        GrammarCase{"unicode_blank", L"/A\u00A0v\u3000/B", {{L"/A", L"v"}, {L"/B", L""}}},
        GrammarCase{"non_ascii_value", L"/LANG=d\u00E9", {{L"/LANG", L"d\u00E9"}}},
        GrammarCase{"non_ascii_ends_name", L"/A\u00E9=1", {{L"/A", L""}}},
        GrammarCase{"lone_slash", L"/ - /=x", {}},
        GrammarCase{"empty", L"", {}}),
    [](const auto& info) { return std::string(info.param.what); });

// The same grammar through a library regex, searched again on each remaining text.
Map ParseWithRegex(const std::wstring& text) {
  static const std::wregex re(
      LR"re((^|[\s]{1})([\/-]{1}\w+)((\s*[=\s]{1}\s*"([^"]*)"|\s*[=\s]{1}\s*([^-\/\s]{1}[^"\s]*))?|$))re");
  Map map;
  std::wstring remaining = text;
  std::wsmatch m;
  while (std::regex_search(remaining, m, re)) {
    map.emplace(m[2].str(), m[6].matched ? m[6].str() : m[5].str());
    remaining = m.suffix().str();
  }
  return map;
}

TEST(GrammarTest, AgreesWithRegexOnRandomText) {
  const std::wstring alphabet = L"/-=\" \tab_Z19x";
  std::mt19937 random(12345);
  for (int n = 0; n < 20000; ++n) {
    std::wstring text(random() % 24, L' ');
    for (auto& c : text) c = alphabet[random() % alphabet.size()];
    ASSERT_EQ(CCommandLineArguments(text).GetArguments(), ParseWithRegex(text)) << "text: [" << std::string(text.begin(), text.end()) << "]";
  }
}

TEST(GrammarTest, LongTextIsParsedWithoutRecursion) {
  std::wstring text = L"/A=" + std::wstring(1 << 20, L'x') + L" /B \"" + std::wstring(1 << 20, L' ');
  const CCommandLineArguments args(text);
  EXPECT_EQ(args.GetStringArgument(L"/A").size(), 1u << 20);
  EXPECT_EQ(args.GetStringArgument(L"/B"), L"\"");
}

TEST(ArgumentAccessTest, AbsentEmptyAndPresentNames) {
  const CCommandLineArguments args(L"/BUILD_ID= /TRACKING=t /DELAY=\"10\"");
  std::wstring value = L"untouched";
  EXPECT_FALSE(args.GetArgument(L"/OSOURCE", value));
  EXPECT_EQ(value, L"untouched");
  EXPECT_TRUE(args.GetArgument(L"/TRACKING", value));
  EXPECT_EQ(value, L"t");
  EXPECT_TRUE(args.HasArgument(L"/BUILD_ID"));
  EXPECT_EQ(args.GetStringArgument(L"/BUILD_ID"), L"");
  EXPECT_EQ(args.GetStringArgument(L""), L"");
  EXPECT_EQ(args.GetIntArgument(L"/DELAY"), 10u);
  EXPECT_EQ(args.GetIntArgument(L"/OSOURCE"), 0u);
  EXPECT_EQ(args.GetIntArgument(L""), 0u);
}

TEST(IntegerOptionTest, WholeDecimalInt32NegativeGivesZero) {
  const std::pair<std::wstring, uint32_t> cases[] = {
      {L"10", 10},       {L"+10", 10},          {L"007", 7},         {L"0", 0},
      {L"-3", 0},        {L"-0", 0},            {L"10s", 0},         {L" 10", 0},
      {L"10 ", 0},       {L"", 0},              {L"+", 0},           {L"-", 0},
      {L"1e3", 0},       {L"0x10", 0},          {L"\uFF11\uFF10", 0}, {L"2147483647", 2147483647u},
      {L"2147483648", 0}, {L"-2147483648", 0}, {L"99999999999999999999999", 0}, {L"+-1", 0},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(ParseUnsignedOption(text), expected) << std::string(text.begin(), text.end());
  }
}

// The program's own command-line text, made from argv, reads back whole through the grammar.
TEST(CommandLineTextTest, RoundTripThroughTheOptionGrammar) {
  const char* argv[] = {"omk-setup",         "/TRACKING=camp aign 7", "/LANG", "de",
                        "/OSOURCE",          "site x",               "/S",    "-extractTrackingUID=/tmp/a b/c.txt", "/UPDATE=/x",
                        "/BUILD_ID=\xC3\xA9", nullptr};
  const CCommandLineArguments args(Platform::GetCommandLineText(10, argv));
  const CCommandLineArguments::Map expected = {
      {L"/TRACKING", L"camp aign 7"}, {L"/LANG", L"de"},
      {L"/OSOURCE", L"site x"},       {L"/S", L""},
      {L"-extractTrackingUID", L"/tmp/a b/c.txt"}, {L"/BUILD_ID", L"\u00E9"}, {L"/UPDATE", L"/x"},
  };
  EXPECT_EQ(args.GetArguments(), expected);
}

}  // namespace
}  // namespace CustomInstaller
