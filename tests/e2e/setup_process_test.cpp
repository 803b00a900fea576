// The built omk-setup started as a process, as download pages and other programs start it.
#include <gtest/gtest.h>

#include "platform/environment.h"
#include "platform/text.h"
#include "tests/support/env.h"
#include "tests/support/fixtures.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using TestSupport::RunProcess;

// An installed suite in a registry and ProgramData folder of its own.
class TrackingUidTest : public ::testing::Test {
 protected:
  TrackingUidTest() {
    m_env = {{"OMK_REGISTRY_ROOT", (Root() / "registry").string()}, {"OMK_PROGRAMDATA", (Root() / "pd").string()}};
    TestSupport::ScopedEnv env;
    env.Set("OMK_REGISTRY_ROOT", m_env["OMK_REGISTRY_ROOT"]);
    TestSupport::ImportReg(R"([HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Quarro Omnikit]
"UninstallString"=")" + (Root() / "suite" / "uninstall").string() + "\"\n");
    TestSupport::MakeExecutable(Root() / "suite" / "Quarro Omnikit.exe");
  }
  const std::filesystem::path& Root() const { return m_dir.Path(); }
  std::filesystem::path Ini() const {
    return TestSupport::SuiteSettingsPath(Root() / "pd");
  }
  static std::string Settings(const std::string& uidLine) { return TestSupport::SuiteSettingsIni(uidLine); }
  TestSupport::ProcessResult Extract(const std::string& argument) {
    return RunProcess(OMK_SETUP_PATH, {argument}, m_env);
  }

  TestSupport::TempDir m_dir;
  std::map<std::string, std::string> m_env;
};

// The answer goes into the empty file the asking copy made, or a new one; a file with content
// is never truncated (the path may come from anyone who can start this program).
TEST_F(TrackingUidTest, WritesTheInstalledSuitesTrackingUidOnlyIntoAnEmptyOrNewFile) {
  TestSupport::WriteFile(Ini(), Settings("trackingUid={1F2E-3D4C}\n"));
  const auto answer = Root() / "answer dir" / "trackingUID.txt";
  TestSupport::WriteFile(answer, "");
  auto result = Extract("-extractTrackingUID=" + answer.string());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(TestSupport::ReadFile(answer), "{1F2E-3D4C}");

  const auto fresh = Root() / "answer dir" / "new.txt";
  EXPECT_EQ(Extract("-extractTrackingUID=" + fresh.string()).exitCode, 0);
  EXPECT_EQ(TestSupport::ReadFile(fresh), "{1F2E-3D4C}");

  TestSupport::WriteFile(answer, "an older and longer answer");
  EXPECT_EQ(Extract("-extractTrackingUID=" + answer.string()).exitCode, 1);
  EXPECT_EQ(TestSupport::ReadFile(answer), "an older and longer answer");
}

// The answer file's folder may be writable by others of the user: a link put in its place
// must not carry the answer (written with this program's rights) to another file.
TEST_F(TrackingUidTest, NeverWritesThroughALink) {
  TestSupport::WriteFile(Ini(), Settings("trackingUid={1F2E-3D4C}\n"));
  const auto target = Root() / "precious.txt";
  TestSupport::WriteFile(target, "keep me");
  const auto answer = Root() / "trackingUID.txt";
  std::filesystem::create_symlink(target, answer);
  EXPECT_EQ(Extract("-extractTrackingUID=" + answer.string()).exitCode, 1);
  EXPECT_EQ(TestSupport::ReadFile(target), "keep me");
  EXPECT_TRUE(std::filesystem::is_symlink(answer));
}

TEST_F(TrackingUidTest, EachFailureExitsWithOneAndWritesNothing) {
  const auto answer = Root() / "trackingUID.txt";
  const std::string request = "-extractTrackingUID=" + answer.string();
  struct Case {
    const char* what;
    std::string settings;  // empty: no settings file
    std::string argument;
  };
  const std::vector<Case> cases = {
      {"empty path", Settings("trackingUid=x\n"), "-extractTrackingUID"},
      {"empty quoted path", Settings("trackingUid=x\n"), "-extractTrackingUID=\"\""},
      {"no settings file", "", request},
      {"empty UID", Settings("trackingUid=\n"), request},
      {"missing key", Settings(""), request},
      {"key in another section", Settings("") + "[Shared]\ntrackingUid=x\n", request},
      {"malformed file", "[Common\ntrackingUid=x\n", request},
      {"unwritable answer", Settings("trackingUid=x\n"), "-extractTrackingUID=" + (Root() / "missing" / "a.txt").string()},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(Ini());
    if (!c.settings.empty()) TestSupport::WriteFile(Ini(), c.settings);
    const auto result = Extract(c.argument);
    EXPECT_EQ(result.exitCode, 1) << c.what << ": " << result.err;
    EXPECT_FALSE(std::filesystem::exists(answer)) << c.what;
  }
  EXPECT_FALSE(std::filesystem::exists(Root() / "missing"));

  // No installed suite: its main executable is gone.
  TestSupport::WriteFile(Ini(), Settings("trackingUid=x\n"));
  std::filesystem::remove(Root() / "suite" / "Quarro Omnikit.exe");
  EXPECT_EQ(Extract(request).exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(answer));
}

}  // namespace
