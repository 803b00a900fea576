#include "core/nsis_command_line.h"

#include <gtest/gtest.h>

#include "metrics/hits.h"
#include "platform/command_line.h"
#include "platform/shell.h"

namespace CustomInstaller::Core {
namespace {

enum class Kind { Windowed, Original, OriginalWithoutDelay };

struct Case {
  const wchar_t* options;
  bool sessionOpen;
  Kind kind;
  const wchar_t* expected;
};

class NSISCommandLineTest : public testing::TestWithParam<Case> {
 protected:
  void SetUp() override { InstallationDetails::SetUidProvider([] { return std::wstring(L"0f1e-uid"); }); }
  void TearDown() override {
    AppMetrics::SetSessionOpen(false);
    InstallationDetails::SetUidProvider(nullptr);
  }
};

std::unique_ptr<INSISCommandLine> Make(Kind kind, const InstallerOptions& options) {
  const InstallationDetails details(options);
  switch (kind) {
    case Kind::Windowed:
      return std::make_unique<CNSISCommandLine>(options, details);
    case Kind::Original:
      return std::make_unique<CNSISOriginalCommandLine>(options, details);
    case Kind::OriginalWithoutDelay:
      return std::make_unique<CNSISOriginalCommandLine>(options, details, true);
  }
  return nullptr;
}

TEST_P(NSISCommandLineTest, Build) {
  const Case& c = GetParam();
  AppMetrics::SetSessionOpen(c.sessionOpen);
  EXPECT_EQ(Make(c.kind, InstallerOptions(c.options))->Build(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NSISCommandLineTest,
    testing::Values(
        // Every option, given in another order than the one passed on.
        Case{L"/UPDATE /LAUNCHDELAY=4 /LANG=de /DISABLEPOSTPAGES /OSOURCE=src /VS /BUILD_ID=77 "
             L"/TRACKING=t1 /DELAY=9 /S",
             true, Kind::Windowed,
             L"/GA_TRACKING_UID=\"0f1e-uid\" /TRACKING=\"t1\" /BUILD_ID=\"77\" /OSOURCE=\"src\" "
             L"/LANG=\"de\" /VS /DISABLEPOSTPAGES /UPDATE /LAUNCHDELAY=4 /NO_UI"},
        // No session: no tracking UID, the text starts with a space; defaults for build id.
        Case{L"/LANG=en", false, Kind::Windowed, L" /BUILD_ID=\"0\" /LANG=\"en\" /NO_UI"},
        Case{L"/S /DELAY=5 /LANG=en /TRACKING=\"a b\"", true, Kind::Original,
             L"/GA_TRACKING_UID=\"0f1e-uid\" /TRACKING=\"a b\" /BUILD_ID=\"0\" /LANG=\"en\" /DELAY=5 /S"},
        // The delay goes along also when it is 0; a launch delay of 0 does not.
        Case{L"/LANG=en /LAUNCHDELAY=0", false, Kind::Original, L" /BUILD_ID=\"0\" /LANG=\"en\" /DELAY=0"},
        Case{L"/VS /LANG=en /DELAY=5", false, Kind::OriginalWithoutDelay,
             L" /BUILD_ID=\"0\" /LANG=\"en\" /VS"}));

// What this program's argv becomes in the product installer's argv: joined into the command-line
// text, parsed into options, built into the installer's command line and split by the Windows
// rules. A value arrives whole as its own option or, when the grammar cannot hold it, not at all;
// it never adds, removes or swallows another argument.
struct RoundTrip {
  const char* what;
  std::vector<std::wstring> argv;
  std::vector<std::wstring> installerArgs;  // after the program name
  std::vector<size_t> leftOut;
};

void PrintTo(const RoundTrip& c, std::ostream* os) { *os << c.what; }

class CommandLineRoundTripTest : public testing::TestWithParam<RoundTrip> {
 protected:
  void SetUp() override { AppMetrics::SetSessionOpen(false); }
};

TEST_P(CommandLineRoundTripTest, EachValueReachesOnlyItsOwnOption) {
  const RoundTrip& c = GetParam();
  std::vector<size_t> leftOut;
  const std::wstring text = Platform::JoinCommandLine(c.argv, &leftOut);
  EXPECT_EQ(leftOut, c.leftOut) << std::string(text.begin(), text.end());
  const InstallerOptions options(text);
  const InstallationDetails details(options);
  const auto args = Platform::SplitWindowsCommandLine(L"\"/tmp/i n\" " + CNSISOriginalCommandLine(options, details).Build());
  ASSERT_FALSE(args.empty());
  EXPECT_EQ(args.front(), L"/tmp/i n");
  EXPECT_EQ(std::vector<std::wstring>(args.begin() + 1, args.end()), c.installerArgs);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineRoundTripTest,
    testing::Values(
        RoundTrip{"plain values", {L"/S", L"/TRACKING=t1", L"/LANG=de"},
                  {L"/TRACKING=t1", L"/BUILD_ID=0", L"/LANG=de", L"/DELAY=0", L"/S"}, {}},
        RoundTrip{"a value ending in a backslash keeps the next option whole",
                  {L"/S", L"/TRACKING=x\\", L"/OSOURCE= /D=/opt/evil /UNINSTALL ", L"/LANG=en"},
                  {L"/TRACKING=x\\", L"/BUILD_ID=0", L"/OSOURCE= /D=/opt/evil /UNINSTALL ", L"/LANG=en",
                   L"/DELAY=0", L"/S"},
                  {}},
        RoundTrip{"backslashes inside, doubled and alone", {L"/TRACKING=a\\\\b\\", L"/OSOURCE=\\", L"/LANG=en"},
                  {L"/TRACKING=a\\\\b\\", L"/BUILD_ID=0", L"/OSOURCE=\\", L"/LANG=en", L"/DELAY=0"}, {}},
        RoundTrip{"blanks and tabs", {L"/TRACKING=a  b\tc", L"/OSOURCE", L" lead", L"/LANG=en"},
                  {L"/TRACKING=a  b\tc", L"/BUILD_ID=0", L"/OSOURCE= lead", L"/LANG=en", L"/DELAY=0"}, {}},
        RoundTrip{"an inner double quote is left out, never read as another option",
                  {L"/TRACKING=a\" -extractTrackingUID=\"/some/file", L"/OSOURCE=s", L"/LANG=en"},
                  {L"/BUILD_ID=0", L"/OSOURCE=s", L"/LANG=en", L"/DELAY=0"}, {1}},
        RoundTrip{"a lone quote, a quote after a bare name", {L"\"", L"/TRACKING", L"x\"/S", L"/LANG=en"},
                  {L"/BUILD_ID=0", L"/LANG=en", L"/DELAY=0"}, {1, 3}},
        RoundTrip{"a value quoted as a whole loses only its quotes", {L"/TRACKING=\"a b\"", L"/LANG=en"},
                  {L"/TRACKING=a b", L"/BUILD_ID=0", L"/LANG=en", L"/DELAY=0"}, {}},
        RoundTrip{"loose text holding an option is left out; after a bare name it is the value",
                  {L"junk /S -extractTrackingUID=/f", L"/TRACKING", L"x /VS", L"/LANG=en"},
                  {L"/TRACKING=x /VS", L"/BUILD_ID=0", L"/LANG=en", L"/DELAY=0"}, {1}},
        RoundTrip{"empty values", {L"/TRACKING=", L"/OSOURCE", L"", L"/BUILD_ID=", L"/LANG=en"},
                  {L"/BUILD_ID=0", L"/LANG=en", L"/DELAY=0"}, {}},
        RoundTrip{"values that start like names", {L"/TRACKING=-5", L"/OSOURCE=/x y", L"/LANG=en"},
                  {L"/TRACKING=-5", L"/BUILD_ID=0", L"/OSOURCE=/x y", L"/LANG=en", L"/DELAY=0"}, {}},
        RoundTrip{"non-ASCII", {L"/TRACKING=\u00E9t\u00E9 \u65E5\u672C", L"/LANG=\u0440\u0443"},
                  {L"/TRACKING=\u00E9t\u00E9 \u65E5\u672C", L"/BUILD_ID=0", L"/LANG=\u0440\u0443", L"/DELAY=0"}, {}}));

TEST(NSISCommandLineValuesTest, QuotedOptionSplitsBackToTheValue) {
  const std::wstring values[] = {L"", L"a\"b", L"\\", L"x\\\"", L"\"\"", L"a b\\ \\\\\"c", L"\\\\\\"};
  for (const auto& value : values) {
    const auto args = Platform::SplitWindowsCommandLine(L"p " + QuotedOption(L"/T", value));
    EXPECT_EQ(args, (std::vector<std::wstring>{L"p", L"/T=" + value})) << std::string(value.begin(), value.end());
  }
}

}  // namespace
}  // namespace CustomInstaller::Core
