#include "core/nsis_command_line.h"

#include <gtest/gtest.h>

#include "metrics/hits.h"

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

TEST(NSISCommandLineValuesTest, ValuesArePassedAsTheyAreWithoutEscaping) {
  AppMetrics::SetSessionOpen(false);
  InstallerOptions options(L"/LANG=en");
  options.tracking = L"a\"b\\";
  const InstallationDetails details(options);
  EXPECT_EQ(CNSISOriginalCommandLine(options, details).Build(),
            L" /TRACKING=\"a\"b\\\" /BUILD_ID=\"0\" /LANG=\"en\" /DELAY=0");
}

}  // namespace
}  // namespace CustomInstaller::Core
